#include "archive/PackAhead.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>
#include <utility>

#include "archive/ArchiveErrors.h"
#include "archive/Crc32.h"
#include "archive/Deflater.h"
#include "archive/FileIo.h"
#include "archive/PackWorkers.h"

namespace archive {
namespace {

// How often a file that is still being written is looked at again when its end was reached.
constexpr auto kGrowthPoll = std::chrono::milliseconds(5);

// The name a file is known by: the archive writer's walk uses '/' separators, and on Windows a
// name in another case is the same file.
std::string Key(std::string path) {
#ifdef _WIN32
  for (char& c : path) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
#endif
  return path;
}

// Ends a preparation: the run stops, or the file was given up.
struct Abandoned {};

}  // namespace

struct PackAhead::Piece {
  std::vector<std::uint8_t> input;  // the dictionary, then the piece's own bytes
  std::size_t dictionary = 0;
  std::size_t size = 0;
  bool last = false;
  std::vector<std::uint8_t> output;
  enum class State { Queued, Done, Failed } state = State::Queued;  // under the mutex
};

struct PackAhead::Job {
  std::string key;
  std::string path;
  std::string spillFolder;
  enum class State { Waiting, Working, Done, Dropped } state = State::Waiting;
  bool complete = false;  // the file is written whole
  bool written = true;    // false: given up
  std::unique_ptr<PreparedFile> result;
};

PackAhead::PackAhead(int level, int threads, std::size_t memoryLimit) : level_(level), memoryLimit_(memoryLimit) {
  workers_ = static_cast<std::size_t>(PackWorkers::ThreadsFor(threads));
  try {
    coordinator_ = std::thread([this] { Coordinate(); });
    for (std::size_t i = 0; i < workers_; ++i) deflaters_.emplace_back([this] { DeflatePieces(); });
  } catch (...) {
    // A thread could not be started: those that did stop again.
    Stop();
    throw;
  }
}

PackAhead::~PackAhead() { Stop(); }

void PackAhead::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (coordinator_.joinable()) coordinator_.join();
  for (std::thread& t : deflaters_) t.join();
  deflaters_.clear();
  jobs_.clear();
  pieces_.clear();
}

std::shared_ptr<PackAhead::Job> PackAhead::Find(const std::string& key) {
  for (auto job = jobs_.rbegin(); job != jobs_.rend(); ++job)
    if ((*job)->key == key) return *job;
  return nullptr;
}

void PackAhead::Follow(const std::string& path, const std::string& spillFolder) {
  auto job = std::make_shared<Job>();
  job->key = Key(path);
  job->path = path;
  job->spillFolder = spillFolder;
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  changed_.notify_all();
}

void PackAhead::Complete(const std::string& path, bool written) {
  {
    std::lock_guard lock(mutex_);
    const std::shared_ptr<Job> job = Find(Key(path));
    if (!job) return;
    job->complete = true;
    job->written = job->written && written;
    if (!job->written && job->state == Job::State::Done) {
      job->result.reset();
      job->state = Job::State::Dropped;
    }
  }
  changed_.notify_all();
}

std::unique_ptr<PreparedFile> PackAhead::Take(const std::string& path) {
  std::unique_lock lock(mutex_);
  const std::shared_ptr<Job> job = Find(Key(path));
  if (!job) return nullptr;
  // Whoever packs the file now takes it as it stands.
  job->complete = true;
  changed_.notify_all();
  changed_.wait(lock, [&] { return stop_ || job->state == Job::State::Done || job->state == Job::State::Dropped; });
  jobs_.erase(std::find(jobs_.begin(), jobs_.end(), job));
  return std::move(job->result);
}

void PackAhead::Wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] {
    return stop_ || std::none_of(jobs_.begin(), jobs_.end(), [](const auto& j) {
             return j->state == Job::State::Waiting || j->state == Job::State::Working;
           });
  });
}

void PackAhead::Coordinate() {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::unique_lock lock(mutex_);
      const auto waiting = [this] {
        return std::find_if(jobs_.begin(), jobs_.end(), [](const auto& j) { return j->state == Job::State::Waiting; });
      };
      changed_.wait(lock, [&] { return stop_ || waiting() != jobs_.end(); });
      if (stop_) return;
      job = *waiting();
      job->state = Job::State::Working;
    }
    bool prepared = false;
    try {
      Prepare(*job);
      prepared = true;
    } catch (...) {
      // Stopped, given up, or the file could not be read: the archive writer packs it itself
      // and reports what it finds.
    }
    {
      std::lock_guard lock(mutex_);
      if (!prepared || !job->written) job->result.reset();
      job->state = job->result ? Job::State::Done : Job::State::Dropped;
    }
    changed_.notify_all();
  }
}

void PackAhead::DeflatePieces() {
  Deflater deflater(level_);
  for (;;) {
    std::shared_ptr<Piece> piece;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || !pieces_.empty(); });
      if (stop_) return;
      piece = std::move(pieces_.front());
      pieces_.pop_front();
    }
    bool done = true;
    try {
      deflater.Compress(piece->input.data() + piece->dictionary, piece->dictionary, piece->size, piece->last,
                        piece->output);
    } catch (...) {
      done = false;
    }
    std::vector<std::uint8_t>().swap(piece->input);
    {
      std::lock_guard lock(mutex_);
      piece->state = done ? Piece::State::Done : Piece::State::Failed;
    }
    changed_.notify_all();
  }
}

void PackAhead::Prepare(Job& job) {
  // Whether the file is complete is read before each look at it: a look that finds nothing new
  // after the file was complete has found its end.
  const auto complete = [&] {
    std::lock_guard lock(mutex_);
    if (stop_ || !job.written) throw Abandoned{};
    return job.complete;
  };
  const auto pause = [&] {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kGrowthPoll, [&] { return stop_ || job.complete; });
  };

  fileio::File file;
  for (;;) {
    const bool whole = complete();
    file = fileio::File::OpenForReading(job.path);
    if (file.IsOpen()) break;
    if (whole) throw Abandoned{};
    pause();
  }

  auto result = std::make_unique<PreparedFile>();
  result->level = level_;
  result->deflated = std::make_unique<EntryBody>(memoryLimit_, job.spillFolder, PackWorkers::kPieceSize);
  std::uint64_t position = 0;
  const auto read = [&](std::uint8_t* buffer, std::size_t want) -> std::size_t {
    for (;;) {
      const bool whole = complete();
      const std::optional<std::size_t> got = file.ReadAt(position, buffer, want);
      if (!got) throw Abandoned{};
      if (*got > 0 || whole) {
        position += *got;
        return *got;
      }
      pause();
    }
  };

  // This file's pieces in order; those not yet taken are dropped when the preparation ends early.
  std::deque<std::shared_ptr<Piece>> inFlight;
  struct DropQueued {
    PackAhead& ahead;
    std::deque<std::shared_ptr<Piece>>& pieces;
    ~DropQueued() {
      std::lock_guard lock(ahead.mutex_);
      for (const std::shared_ptr<Piece>& piece : pieces) {
        const auto queued = std::find(ahead.pieces_.begin(), ahead.pieces_.end(), piece);
        if (queued != ahead.pieces_.end()) ahead.pieces_.erase(queued);
      }
    }
  } dropQueued{*this, inFlight};

  std::vector<std::uint8_t> tail;  // the last bytes read, the next piece's dictionary
  std::uint32_t crc = 0xFFFFFFFFu;
  bool readAll = false;
  for (;;) {
    while (!readAll && inFlight.size() < 2 * workers_ + 1) {
      auto piece = std::make_shared<Piece>();
      piece->dictionary = tail.size();
      piece->input.resize(tail.size() + PackWorkers::kPieceSize);
      std::copy(tail.begin(), tail.end(), piece->input.begin());
      std::uint8_t* const own = piece->input.data() + piece->dictionary;
      std::size_t filled = 0;
      while (filled < PackWorkers::kPieceSize) {
        const std::size_t got = read(own + filled, PackWorkers::kPieceSize - filled);
        if (got == 0) break;
        filled += got;
      }
      piece->input.resize(piece->dictionary + filled);
      crc = Crc32Update(crc, own, filled);
      piece->size = filled;
      // A file that ends on a piece's end is closed by an empty piece, as the writer's own do.
      piece->last = readAll = filled < PackWorkers::kPieceSize;
      const std::size_t keep = std::min(Deflater::kDictionarySize, piece->dictionary + filled);
      tail.assign(own + filled - keep, own + filled);
      inFlight.push_back(piece);
      {
        std::lock_guard lock(mutex_);
        pieces_.push_back(std::move(piece));
      }
      changed_.notify_all();
    }
    if (inFlight.empty()) break;
    Piece& next = *inFlight.front();
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || next.state != Piece::State::Queued; });
      if (stop_ || next.state == Piece::State::Failed) throw Abandoned{};
    }
    result->deflated->Append(next.output.data(), next.output.size());
    inFlight.pop_front();
  }
  result->size = position;
  result->crc = ~crc;
  std::lock_guard lock(mutex_);
  job.result = std::move(result);
}

}  // namespace archive
