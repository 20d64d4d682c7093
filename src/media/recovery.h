// Recordings an earlier run left unfinished. A recording is written in fragments so that a crash
// leaves a file that plays, and made an ordinary file at its stop; a run that ended before that (a
// crash, a kill, an exit or a session end cut short) leaves the fragments. At the next start they
// are made an ordinary file in the background, and the temporary file of a copy that was cut
// short is removed. Files that another program is writing are left alone (fragmented_file.h).
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vistrel {

class Recovery {
 public:
  Recovery() = default;
  Recovery(const Recovery&) = delete;
  Recovery& operator=(const Recovery&) = delete;
  ~Recovery() { Stop(); }

  // Looks through `folders` on a thread of its own; `finished` hears the names of the files made
  // ordinary, once, when there are any.
  using Finished = std::function<void(const std::vector<std::wstring>& names)>;
  void Start(std::vector<std::wstring> folders, Finished finished);
  // Ends the work (a file being finished stays as it was, and is finished at a later start) and
  // waits for the thread.
  void Stop();

 private:
  void Run(const std::vector<std::wstring>& folders, const Finished& finished);

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vistrel
