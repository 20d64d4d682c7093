// Work handed to the user-interface thread from any thread: a worker posts a task, and the UI
// thread runs it in order with its other messages. The task owns what it carries (a bitmap, a
// path), so nothing is lost or leaked when it cannot be delivered.
#pragma once

#include <memory>
#include <utility>

namespace vistrel {

class UiTask {
 public:
  virtual ~UiTask() = default;
  virtual void Run() = 0;
};

// Creates the message-only window that runs the tasks, on the UI thread; before it exists (and
// after ShutdownUiTasks) tasks are dropped.
bool InitUiTasks();
// Destroys the window; tasks still queued are destroyed without running.
void ShutdownUiTasks();

// Queues the task for the UI thread; false (and the task destroyed) when it cannot be delivered.
bool PostUiTask(std::unique_ptr<UiTask> task);

template <typename Work>
bool PostUiTask(Work work) {
  struct Task final : UiTask {
    explicit Task(Work w) : work(std::move(w)) {}
    void Run() override { work(); }
    Work work;
  };
  return PostUiTask(std::unique_ptr<UiTask>(std::make_unique<Task>(std::move(work))));
}

}  // namespace vistrel
