// The process's slide clipboard (clipboard.hpp).
#include "engines/clipboard.hpp"

#include <mutex>
#include <utility>

namespace quorvane::engines::clipboard {
namespace {

std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}

std::shared_ptr<const CopiedSlide>& Content() {
  static std::shared_ptr<const CopiedSlide> content;
  return content;
}

}  // namespace

void PutSlide(std::shared_ptr<const CopiedSlide> slide) {
  std::shared_ptr<const CopiedSlide> previous;
  {
    const std::lock_guard guard(Lock());
    previous = std::exchange(Content(), std::move(slide));
  }
  // The previous entry (possibly the last reference to a large clip) goes outside the lock.
}

std::shared_ptr<const CopiedSlide> CurrentSlide() {
  const std::lock_guard guard(Lock());
  return Content();
}

}  // namespace quorvane::engines::clipboard
