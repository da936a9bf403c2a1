#include "archive/PackWorkers.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "archive/ArchiveErrors.h"
#include "archive/Crc32.h"
#include "archive/Deflater.h"
#include "archive/DosDateTime.h"
#include "archive/FileIo.h"
#include "archive/ZipCrypto.h"
#include "archive/ZipFormat.h"
#include "archive/ZipOutput.h"
#include "platform/FileSystem.h"

namespace archive {
namespace {

constexpr std::size_t kCrcBlock = 8192;     // CRC pre-pass
constexpr std::size_t kStoreBlock = 32768;  // stored entries
// A file that keeps changing while it is packed is given up after this many attempts.
constexpr int kPackAttempts = 3;
// The main thread handles events at least this often while it waits for a worker.
constexpr auto kWaitSlice = std::chrono::milliseconds(10);

}  // namespace

// What one worker thread keeps from file to file: its compressor and its buffers.
class PackWorkers::Worker {
 public:
  explicit Worker(int level) : deflater(level), crcBlock(kCrcBlock), storeBlock(kStoreBlock) {}
  Deflater deflater;
  ZipKeys keys;
  std::vector<std::uint8_t> crcBlock;
  std::vector<std::uint8_t> storeBlock;
};

int PackWorkers::ThreadsFor(int setting) {
  if (setting > 0) return setting;
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

PackWorkers::PackWorkers(std::vector<PackSource> sources, const Settings& settings, std::function<void()> pump)
    : settings_(settings), pump_(std::move(pump)) {
  slots_.resize(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) slots_[i].source = std::move(sources[i]);
  const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(ThreadsFor(settings_.threads)), slots_.size());
  // Twice as many files in flight as workers: a worker that finished a file while the archive
  // still waits for an earlier one can go on with the next.
  window_ = 2 * std::max<std::size_t>(threads, 1);
  bufferSize_ = settings_.bufferSize > 0 ? settings_.bufferSize : kMemoryBudget / window_;
  try {
    for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  } catch (...) {
    // A thread could not be started: those that did stop again, and the run fails.
    Stop();
    throw;
  }
}

PackWorkers::~PackWorkers() { Stop(); }

void PackWorkers::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  workAvailable_.notify_all();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
}

void PackWorkers::CheckStop() const {
  if (stop_) throw EUserCanceled();
}

void PackWorkers::Work() {
  Worker worker(settings_.level);
  for (;;) {
    Slot* slot = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      workAvailable_.wait(lock, [this] {
        return stop_ || failed_ || next_ >= slots_.size() || next_ < finished_ + window_;
      });
      if (stop_ || failed_ || next_ >= slots_.size()) return;
      slot = &slots_[next_++];
    }
    try {
      if (!Pack(worker, *slot)) throw EZipError("File changed while being packed: " + PrintableName(slot->source.path));
      std::lock_guard<std::mutex> lock(mutex_);
      slot->state = State::Done;
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      slot->failure = std::current_exception();
      slot->state = State::Failed;
      failed_ = true;
    }
    progress_.notify_all();
  }
}

// Packs one file into its body; false when it kept changing while it was read.
bool PackWorkers::Pack(Worker& worker, Slot& slot) {
  const std::string& path = slot.source.path;
  // A file that the walk found but that cannot be read now (it vanished, it is locked, it is a
  // named pipe) fails the run: an archive without it must not pass for a complete one.
  fileio::File file = fileio::File::OpenForReading(path);
  if (!file.IsOpen()) throw MakeOpenError(path, file.Error());
  // The main thread reads what was found once the state says it is there.
  PackedFile& found = slot.file;
  found.attributes = platform::GetFileAttributes(path).value_or(platform::kAttrArchive);
  found.dosDateTime = DosDateTime::FileTime(file.Native()).value_or(DosDateTime::Now());
  found.size = file.Status().size;
  slot.body = std::make_unique<EntryBody>(bufferSize_, settings_.spillFolder,
                                          Deflater::WorstCase(found.size) + zip::kEncryptionHeaderSize);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slot.state = State::Opened;
  }
  progress_.notify_all();

  const bool password = !settings_.password.empty();
  // Reads from an explicit position, so nothing has to rewind the file between the passes.
  std::uint64_t position = 0;
  const auto read = [&](std::uint8_t* buffer, std::size_t capacity) {
    CheckStop();
    const std::optional<std::size_t> got = file.ReadAt(position, buffer, capacity);
    if (!got) throw EZipError("Cannot read file \"" + PrintableName(path) + "\": " + fileio::ErrorText(file.Error()));
    position += *got;
    return *got;
  };

  for (int attempt = 1; attempt <= kPackAttempts; ++attempt) {
    if (attempt > 1) slot.body->Restart();
    position = 0;
    std::uint32_t preCrc = 0;
    if (password) {
      // The check bytes of the encryption header need the CRC before the data is written.
      std::uint32_t reg = 0xFFFFFFFFu;
      for (std::size_t got; (got = read(worker.crcBlock.data(), worker.crcBlock.size())) > 0;)
        reg = Crc32Update(reg, worker.crcBlock.data(), got);
      preCrc = ~reg;
      position = 0;
      worker.keys.Init(settings_.password);
      std::uint8_t header[zip::kEncryptionHeaderSize];
      std::copy(slot.source.headerBytes.begin(), slot.source.headerBytes.end(), header);
      header[10] = static_cast<std::uint8_t>(preCrc >> 16);
      header[11] = static_cast<std::uint8_t>(preCrc >> 24);
      worker.keys.Encrypt(header, sizeof header);
      Deliver(slot, header, sizeof header);
    }
    const auto write = [&](std::uint8_t* data, std::size_t size) {
      if (password) worker.keys.Encrypt(data, size);
      Deliver(slot, data, size);
    };

    std::uint32_t reg = 0xFFFFFFFFu;
    std::uint64_t total = 0;
    if (slot.source.stored) {
      for (std::size_t got; (got = read(worker.storeBlock.data(), worker.storeBlock.size())) > 0;) {
        total += got;
        reg = Crc32Update(reg, worker.storeBlock.data(), got);
        write(worker.storeBlock.data(), got);
      }
    } else {
      total = worker.deflater.Compress(
          [&](std::uint8_t* buffer, std::size_t capacity) {
            const std::size_t got = read(buffer, capacity);
            reg = Crc32Update(reg, buffer, got);
            return got;
          },
          write);
    }
    const std::uint32_t crc = ~reg;
    // A file that changed between the passes carries a wrong check value: write it again.
    if (password && crc != preCrc) continue;
    if (total < found.size) {
      throw EZipError("The file \"" + PrintableName(path) + "\" became shorter while it was packed: " +
                      std::to_string(total) + " of " + std::to_string(found.size) + " bytes");
    }
    found.crc = crc;
    found.uncompressed = total;
    found.compressed = slot.body->Size();
    return true;
  }
  return false;
}

// Hands packed bytes on: into the archive once the file's turn has come, else into its body.
void PackWorkers::Deliver(Slot& slot, const std::uint8_t* data, std::size_t size) {
  CheckStop();
  if (!slot.body->SentToArchive()) {
    ZipOutput* out = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      out = slot.output;
    }
    if (out != nullptr) slot.body->SendTo(*out);
  }
  slot.body->Append(data, size);
}

void PackWorkers::WaitFor(std::size_t index, State state) {
  Slot& slot = slots_.at(index);
  std::unique_lock<std::mutex> lock(mutex_);
  while (slot.state != State::Failed && slot.state < state) {
    progress_.wait_for(lock, kWaitSlice);
    lock.unlock();
    if (pump_) pump_();
    lock.lock();
  }
  if (slot.state == State::Failed) std::rethrow_exception(slot.failure);
}

const PackedFile& PackWorkers::Opened(std::size_t index) {
  WaitFor(index, State::Opened);
  return slots_[index].file;
}

const PackedFile& PackWorkers::Finish(std::size_t index, ZipOutput& out) {
  Slot& slot = slots_.at(index);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slot.output = &out;
  }
  WaitFor(index, State::Done);
  // A file done before it saw its turn: its bytes are still held and move now.
  if (!slot.body->SentToArchive()) slot.body->SendTo(out, pump_);
  slot.body.reset();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++finished_;
  }
  workAvailable_.notify_all();
  return slot.file;
}

}  // namespace archive
