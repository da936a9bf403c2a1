#include "archive/PackWorkers.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "archive/ArchiveErrors.h"
#include "archive/Crc32.h"
#include "archive/Deflater.h"
#include "archive/DosDateTime.h"
#include "archive/FileIo.h"
#include "archive/PackAhead.h"
#include "archive/ZipCrypto.h"
#include "archive/ZipFormat.h"
#include "archive/ZipOutput.h"
#include "platform/EventPump.h"
#include "platform/FileSystem.h"

namespace archive {
namespace {

constexpr std::size_t kCrcBlock = 8192;     // CRC pre-pass
constexpr std::size_t kStoreBlock = 32768;  // stored entries
// A file that keeps changing while it is packed is given up after this many attempts.
constexpr int kPackAttempts = 3;
// Pieces a worker keeps, with their buffers, for its next ones.
constexpr std::size_t kSparePieces = 2;

}  // namespace

// One piece of a file on its way through the workers. Its owner (the worker packing the file)
// fills the input and queues it; whichever worker takes it fills the output.
struct PackWorkers::Piece {
  enum class State { Queued, Running, Done, Failed, Dropped };
  std::vector<std::uint8_t> input;  // the dictionary, then the piece's own bytes
  std::size_t dictionary = 0;
  std::size_t size = 0;
  bool last = false;
  std::vector<std::uint8_t> output;
  State state = State::Queued;  // under the workers' mutex
  std::exception_ptr failure;
};

// What one worker thread keeps from file to file: its compressor, its buffers and the pieces
// its files have finished with.
class PackWorkers::Worker {
 public:
  explicit Worker(int level) : deflater(level), crcBlock(kCrcBlock), storeBlock(kStoreBlock) {}
  Deflater deflater;
  ZipKeys keys;
  std::vector<std::uint8_t> crcBlock;
  std::vector<std::uint8_t> storeBlock;
  std::vector<std::shared_ptr<Piece>> spare;
};

int PackWorkers::ThreadsFor(int setting) {
  if (setting > 0) return setting;
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

PackWorkers::PackWorkers(std::vector<PackSource> sources, const Settings& settings, std::function<void()> pump)
    : settings_(settings), pump_(std::move(pump)) {
  slots_.resize(sources.size());
  for (std::size_t i = 0; i < sources.size(); ++i) slots_[i].source = std::move(sources[i]);
  // Even one file keeps every worker busy once it is longer than a piece.
  const std::size_t threads = slots_.empty() ? 0 : static_cast<std::size_t>(ThreadsFor(settings_.threads));
  // Twice as many files in flight as workers: a worker that finished a file while the archive
  // still waits for an earlier one can go on with the next.
  workers_ = std::max<std::size_t>(threads, 1);
  window_ = 2 * workers_;
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
    std::shared_ptr<Piece> piece;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      const auto noMoreFiles = [this] { return failed_ || next_ >= slots_.size(); };
      workAvailable_.wait(lock, [&] {
        return stop_ || !pieces_.empty() || (noMoreFiles() ? packing_ == 0 : next_ < finished_ + window_);
      });
      if (stop_) return;
      if (!pieces_.empty()) {
        piece = std::move(pieces_.front());
        pieces_.pop_front();
        piece->state = Piece::State::Running;
      } else if (noMoreFiles()) {
        return;  // and no file is being packed whose pieces could still come
      } else {
        slot = &slots_[next_++];
        ++packing_;
      }
    }
    if (piece) {
      RunPiece(worker, *piece);
      continue;
    }
    try {
      if (!Pack(worker, *slot)) throw EZipError("File changed while being packed: " + PrintableName(slot->source.path));
      std::lock_guard<std::mutex> lock(mutex_);
      slot->state = State::Done;
      --packing_;
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      slot->failure = std::current_exception();
      slot->state = State::Failed;
      failed_ = true;
      --packing_;
    }
    progress_.notify_all();
    workAvailable_.notify_all();  // workers waiting for pieces of this file may be done
  }
}

void PackWorkers::RunPiece(Worker& worker, Piece& piece) {
  Piece::State outcome = Piece::State::Done;
  std::exception_ptr failure;
  try {
    CheckStop();
    worker.deflater.Compress(piece.input.data() + piece.dictionary, piece.dictionary, piece.size, piece.last,
                             piece.output);
  } catch (...) {
    failure = std::current_exception();
    outcome = Piece::State::Failed;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    piece.failure = failure;
    piece.state = outcome;
  }
  pieceDone_.notify_all();
}

// Deflates what `read` delivers in pieces, on this worker and on any worker that is free, and
// hands the joined stream to `write` in order. Feeds the CRC register `crc`; returns the bytes
// read.
std::uint64_t PackWorkers::DeflateInPieces(Worker& worker,
                                           const std::function<std::size_t(std::uint8_t*, std::size_t)>& read,
                                           const std::function<void(std::uint8_t*, std::size_t)>& write,
                                           std::uint32_t& crc) {
  // This file's pieces, in order; those still queued when the file fails are dropped.
  std::deque<std::shared_ptr<Piece>> inFlight;
  struct DropQueued {
    PackWorkers& workers;
    std::deque<std::shared_ptr<Piece>>& pieces;
    ~DropQueued() {
      std::lock_guard<std::mutex> lock(workers.mutex_);
      for (const std::shared_ptr<Piece>& piece : pieces) {
        if (piece->state != Piece::State::Queued) continue;
        piece->state = Piece::State::Dropped;
        const auto queued = std::find(workers.pieces_.begin(), workers.pieces_.end(), piece);
        if (queued != workers.pieces_.end()) workers.pieces_.erase(queued);
      }
      workers.piecesInFlight_ -= pieces.size();
    }
  } dropQueued{*this, inFlight};

  std::vector<std::uint8_t> tail;  // the last bytes read, the next piece's dictionary
  tail.reserve(Deflater::kDictionarySize);
  std::uint64_t total = 0;
  bool readAll = false;
  for (;;) {
    // Reads ahead, so that a worker that finished a piece finds the next one waiting: up to two
    // pieces for each worker and one more, of all files together (none ahead on one thread). A
    // file always has one.
    while (!readAll) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!inFlight.empty() && (workers_ == 1 || piecesInFlight_ >= 2 * workers_ + 1)) break;
        ++piecesInFlight_;
      }
      std::shared_ptr<Piece> piece;
      if (worker.spare.empty()) {
        piece = std::make_shared<Piece>();
      } else {
        piece = std::move(worker.spare.back());
        worker.spare.pop_back();
      }
      piece->state = Piece::State::Dropped;  // until it is read
      inFlight.push_back(piece);
      piece->dictionary = tail.size();
      std::vector<std::uint8_t>& input = piece->input;
      input.assign(tail.begin(), tail.end());
      // Grown as the bytes come, so that a small file takes little.
      std::size_t filled = 0;
      for (;;) {
        const std::size_t room = std::min(kPieceSize - filled, std::max<std::size_t>(filled, kStoreBlock));
        input.resize(piece->dictionary + filled + room);
        const std::size_t got = room > 0 ? read(input.data() + piece->dictionary + filled, room) : 0;
        if (got == 0) break;
        filled += got;
      }
      input.resize(piece->dictionary + filled);
      const std::uint8_t* const own = input.data() + piece->dictionary;
      crc = Crc32Update(crc, own, filled);
      total += filled;
      piece->size = filled;
      // A file that ends on a piece's end is closed by an empty piece.
      piece->last = readAll = filled < kPieceSize;
      const std::size_t keep = std::min(Deflater::kDictionarySize, piece->dictionary + filled);
      tail.assign(own + filled - keep, own + filled);
      std::unique_lock<std::mutex> lock(mutex_);
      piece->state = Piece::State::Queued;
      if (workers_ > 1) {
        pieces_.push_back(std::move(piece));
        lock.unlock();
        workAvailable_.notify_one();
      }
    }
    if (inFlight.empty()) return total;

    // The next piece to write. Until it is done this worker deflates a piece no worker took yet:
    // that one if it is still waiting, else the latest one.
    Piece& next = *inFlight.front();
    for (;;) {
      std::unique_lock<std::mutex> lock(mutex_);
      if (next.state != Piece::State::Queued && next.state != Piece::State::Running) break;
      std::shared_ptr<Piece> mine;
      if (next.state == Piece::State::Queued) {
        mine = inFlight.front();
      } else {
        const auto waiting = std::find_if(inFlight.rbegin(), inFlight.rend(),
                                          [](const std::shared_ptr<Piece>& p) { return p->state == Piece::State::Queued; });
        if (waiting != inFlight.rend()) mine = *waiting;
      }
      if (!mine) {
        pieceDone_.wait(lock, [&] { return next.state != Piece::State::Running; });
        break;
      }
      mine->state = Piece::State::Running;
      if (workers_ > 1) pieces_.erase(std::find(pieces_.begin(), pieces_.end(), mine));
      lock.unlock();
      RunPiece(worker, *mine);
    }
    if (next.state == Piece::State::Failed) std::rethrow_exception(next.failure);
    write(next.output.data(), next.output.size());
    if (worker.spare.size() < kSparePieces) worker.spare.push_back(std::move(inFlight.front()));
    inFlight.pop_front();
    std::lock_guard<std::mutex> lock(mutex_);
    --piecesInFlight_;
  }
}

// Packs one file into its body; false when it kept changing while it was read.
bool PackWorkers::Pack(Worker& worker, Slot& slot) {
  const std::string& path = slot.source.path;
  // Waited for before the file is looked at: the file is complete then.
  std::unique_ptr<PreparedFile> prepared;
  if (settings_.ahead != nullptr && !slot.source.stored) {
    prepared = settings_.ahead->Take(path);
    if (prepared && prepared->level != settings_.level) prepared.reset();
  }
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

  const auto fileCrc = [&] {
    std::uint32_t reg = 0xFFFFFFFFu;
    position = 0;
    for (std::size_t got; (got = read(worker.crcBlock.data(), worker.crcBlock.size())) > 0;)
      reg = Crc32Update(reg, worker.crcBlock.data(), got);
    position = 0;
    return ~reg;
  };
  const auto writeHeader = [&](std::uint32_t crc) {
    if (!password) return;
    worker.keys.Init(settings_.password);
    std::uint8_t header[zip::kEncryptionHeaderSize];
    std::copy(slot.source.headerBytes.begin(), slot.source.headerBytes.end(), header);
    header[10] = static_cast<std::uint8_t>(crc >> 16);
    header[11] = static_cast<std::uint8_t>(crc >> 24);
    worker.keys.Encrypt(header, sizeof header);
    Deliver(slot, header, sizeof header);
  };
  const auto write = [&](std::uint8_t* data, std::size_t size) {
    if (password) worker.keys.Encrypt(data, size);
    Deliver(slot, data, size);
  };

  // The stream made ahead serves only when the file is still exactly what was deflated.
  if (prepared && prepared->size == found.size) {
    const std::uint32_t crc = fileCrc();
    if (crc == prepared->crc) {
      writeHeader(crc);
      prepared->deflated->Drain(write);
      found.crc = crc;
      found.uncompressed = prepared->size;
      found.compressed = slot.body->Size();
      found.prepared = true;
      return true;
    }
  }
  prepared.reset();

  for (int attempt = 1; attempt <= kPackAttempts; ++attempt) {
    if (attempt > 1) slot.body->Restart();
    position = 0;
    std::uint32_t preCrc = 0;
    // The check bytes of the encryption header need the CRC before the data is written.
    if (password) preCrc = fileCrc();
    writeHeader(preCrc);

    std::uint32_t reg = 0xFFFFFFFFu;
    std::uint64_t total = 0;
    if (slot.source.stored) {
      for (std::size_t got; (got = read(worker.storeBlock.data(), worker.storeBlock.size())) > 0;) {
        total += got;
        reg = Crc32Update(reg, worker.storeBlock.data(), got);
        write(worker.storeBlock.data(), got);
      }
    } else {
      total = DeflateInPieces(worker, read, write, reg);
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
  platform::WaitHandlingEvents(
      lock, progress_, [&] { return slot.state == State::Failed || slot.state >= state; },
      [this] {
        if (pump_) pump_();
      });
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
