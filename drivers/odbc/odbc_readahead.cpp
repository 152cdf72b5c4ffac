#include "drivers/odbc/odbc_readahead.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "drivers/odbc/odbc_internal.h"

namespace odbc {

// What the walk and its reader share. The reader keeps it alive while it
// runs, so a reader left to end by itself never outlives what it touches.
struct ReadAhead::Shared {
  // Fixed before the reader starts.
  OdbcApi api;
  SQLHSTMT h = nullptr;
  SQLHDBC dbc = nullptr;
  bool shared = true;
  std::vector<SQLUSMALLINT> status;  // the reader's alone

  std::mutex fetching;  // held by the reader around each fetch

  // Under mu.
  std::mutex mu;
  std::condition_variable cv;  // a set read or given back, the reader stopped or ended
  std::vector<RowSet> read;    // in the result's order
  std::vector<RowSet> free;    // (both reserved for every set: moving a set
                               // between them never allocates)
  bool stop = false, ended = false;
};

namespace {

// The readers of the walks open (StopReadAhead). Under
// the call lock.
std::vector<std::shared_ptr<ReadAhead::Shared>>& Running() {
  // Never destroyed: a view freed while the program ends still finds it.
  static auto* running = new std::vector<std::shared_ptr<ReadAhead::Shared>>;
  return *running;
}

}  // namespace

ReadAhead::ReadAhead(std::shared_ptr<Shared> s) : s_(std::move(s)) {}

std::unique_ptr<ReadAhead> ReadAhead::Start(const OdbcApi& api, SQLHSTMT h, SQLHDBC dbc,
                                            bool shared, const std::vector<RowSetColumn>& shape,
                                            SQLULEN rowset, int sets) {
  auto s = std::make_shared<Shared>();
  s->api = api;
  s->h = h;
  s->dbc = dbc;
  s->shared = shared;
  s->status.assign(rowset, 0);
  s->read.reserve(size_t(sets));
  s->free.reserve(size_t(sets));
  for (int i = 0; i < sets; ++i) s->free.push_back(RowSet{shape, 0, SQL_SUCCESS});
  std::unique_ptr<ReadAhead> ahead(new ReadAhead(s));
  try {
    ahead->thread_ = std::thread(&ReadAhead::Read, s);
  } catch (const std::system_error&) {
    return nullptr;
  }
  Running().push_back(std::move(s));
  return ahead;
}

ReadAhead::~ReadAhead() {
  Stop();
  if (thread_.joinable()) {
    // Holding the call lock, this thread would wait for a reader that waits
    // for the lock: the reader, stopped, ends by itself.
    if (CallLock::Depth() == 0)
      thread_.join();
    else
      thread_.detach();
  }
  CallLock calls;
  std::erase(Running(), s_);
}

void ReadAhead::Stop() {
  {
    std::lock_guard lk(s_->mu);
    s_->stop = true;
  }
  s_->cv.notify_all();
  std::lock_guard fetch_over(s_->fetching);
}

bool ReadAhead::Take(RowSet* set) {
  std::unique_lock lk(s_->mu);
  if (s_->read.empty() && !s_->ended && !s_->stop) {
    if (CallLock::Depth() > 0)
      s_->stop = true;  // see the lock order above
    else
      s_->cv.wait(lk, [&] { return !s_->read.empty() || s_->ended || s_->stop; });
  }
  if (s_->read.empty()) return false;
  *set = std::move(s_->read.front());
  s_->read.erase(s_->read.begin());
  return true;
}

void ReadAhead::GiveBack(RowSet set) {
  {
    std::lock_guard lk(s_->mu);
    s_->free.push_back(std::move(set));
  }
  s_->cv.notify_all();
}

void ReadAhead::Read(std::shared_ptr<Shared> s) {
  std::unique_lock lk(s->mu);
  for (;;) {
    s->cv.wait(lk, [&] { return s->stop || !s->free.empty(); });
    if (s->stop) break;
    RowSet set = std::move(s->free.back());
    s->free.pop_back();
    lk.unlock();
    bool fetched = false;
    {
      std::optional<CallLock> calls;
      if (s->shared) calls.emplace();
      std::lock_guard fetch(s->fetching);
      lk.lock();
      const bool stop = s->stop;
      lk.unlock();
      if (!stop) {
        set.rows = 0;
        set.rc = SQL_SUCCESS;
        for (size_t i = 0; i < set.cols.size() && set.rc == SQL_SUCCESS; ++i) {
          RowSetColumn& c = set.cols[i];
          set.rc = s->api.SQLBindCol(s->h, SQLUSMALLINT(i + 1), c.c_type, c.buf.data(),
                                     SQLLEN(c.width), c.ind.data());
        }
        if (set.rc == SQL_SUCCESS)
          set.rc = s->api.SQLExtendedFetch(s->h, SQL_FETCH_NEXT, 0, &set.rows, s->status.data());
        fetched = true;
      }
    }
    lk.lock();
    if (!fetched) break;
    const bool last = set.rc != SQL_SUCCESS;
    s->read.push_back(std::move(set));
    s->cv.notify_all();
    if (last) break;
  }
  s->ended = true;
  s->cv.notify_all();
}

void StopReadAhead(SQLHDBC dbc) {
  CallLock calls;
  for (auto& s : Running()) {
    if (dbc != nullptr && s->dbc != dbc) continue;
    {
      std::lock_guard lk(s->mu);
      s->stop = true;
    }
    s->cv.notify_all();
    std::lock_guard fetch_over(s->fetching);
  }
}

}  // namespace odbc
