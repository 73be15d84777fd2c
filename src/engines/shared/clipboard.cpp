// The slide clipboard (clipboard.hpp): one per thread.
#include "engines/shared/clipboard.hpp"

#include <utility>

namespace quorvane::engines::clipboard {
namespace {

std::shared_ptr<const CopiedSlide>& Content() {
  thread_local std::shared_ptr<const CopiedSlide> content;
  return content;
}

}  // namespace

void PutSlide(std::shared_ptr<const CopiedSlide> slide) { Content() = std::move(slide); }

std::shared_ptr<const CopiedSlide> CurrentSlide() { return Content(); }

}  // namespace quorvane::engines::clipboard
