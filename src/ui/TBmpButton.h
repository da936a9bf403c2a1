#pragma once
// A button without text of its own that shows a picture carrying its label.

#include <QAbstractButton>
#include <QPixmap>

namespace ui {

class TBmpButton : public QAbstractButton {
  Q_OBJECT

 public:
  enum class Face { Raised, Flat };

  explicit TBmpButton(QWidget* parent = nullptr);

  void SetPicture(const QPixmap& picture);
  const QPixmap& Picture() const { return picture_; }
  void SetFace(Face face);
  Face GetFace() const { return face_; }

  QSize sizeHint() const override { return {90, 26}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap picture_;
  Face face_ = Face::Flat;
};

}  // namespace ui
