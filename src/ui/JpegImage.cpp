#include "ui/JpegImage.h"

#include <QFile>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace ui {

namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

[[noreturn]] void OnFatalError(j_common_ptr info) {
  auto* errors = reinterpret_cast<ErrorManager*>(info->err);
  std::longjmp(errors->jump, 1);
}

void OnMessage(j_common_ptr) {}  // warnings of damaged pictures are not worth a line on stderr

// Decodes into `image`, which lives in the caller's frame. Holds no C++
// object of its own, so libjpeg's long jump out of a fatal error skips no destructor.
bool DecodeInto(const unsigned char* bytes, unsigned long size, QImage* image) {
  jpeg_decompress_struct info;
  ErrorManager errors;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = OnFatalError;
  errors.base.output_message = OnMessage;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes, size);
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  // The image is made in the caller's frame; here it is only swapped in.
  *image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                  QImage::Format_RGB888);
  if (image->isNull()) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image->scanLine(static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
  if (data.isEmpty()) return {};
  QImage image;
  if (!DecodeInto(reinterpret_cast<const unsigned char*>(data.constData()),
                  static_cast<unsigned long>(data.size()), &image)) {
    return {};
  }
  return image;
}

QImage LoadJpeg(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return DecodeJpeg(file.readAll());
}

}  // namespace ui
