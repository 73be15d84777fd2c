// Slide text extraction: the labelled text of one shape of a slide (ExtractSlideText), and the text
// of a group of shapes addressed late-bound (TextFromGroupShape).
#include <memory>
#include <string>
#include <string_view>

#include "converters/slide_text.hpp"

#include "common/text.hpp"
#include "common/dispatch_support.hpp"
#include "office/object_dispatch.hpp"

namespace quorvane::converters {
namespace {

namespace ppt = office::ppt;
using detail::ChangeType;

constexpr std::u16string_view kLineBreak = u"\r\n";

// Nested groups deeper than this end the group text with run-time error 28, as a recursion that
// runs out of stack does on the scripting platform, instead of overflowing the real stack (a group
// that contains itself would never end otherwise).
constexpr int kMaxGroupDepth = 256;
constexpr std::int32_t kOutOfStackSpace = 28;

// An object the model answered with, or run-time error 91 for an unset reference. The reference
// is good for as long as the shared pointer it came from: within one expression for a temporary.
template <typename T>
T& Use(const std::shared_ptr<T>& object) {
  if (!object) throw AutomationError(failure::kObjectNotSet, u"Object variable or With block variable not set");
  return *object;
}

// One request of the extraction under its rule that every failure is ignored: true when it
// succeeded. A request computes everything before it assigns, so a failed one changes nothing.
template <typename Fn>
bool Attempt(Fn&& request) {
  try {
    request();
    return true;
  } catch (...) {
    return false;
  }
}

std::u16string_view PlaceholderLabel(std::int32_t placeholderType) {
  switch (placeholderType) {
    case ppt::kPlaceholderTitle:
    case ppt::kPlaceholderCenterTitle:
      return u"** Title **";
    case ppt::kPlaceholderBody:
      return u"** Body **";
    case ppt::kPlaceholderSubtitle:
      return u"** SubTitle **";
    default:
      return u"** Other Placeholder **";
  }
}

// --- Late-bound access, as the scripting platform coerces the answers of a dispatch call --------

Variant Get(Dispatch& object, std::u16string_view member) {
  return object.Call(member, DISPATCH_PROPERTYGET | DISPATCH_METHOD);
}

Variant Coerced(const Variant& value, VarType to) {
  Variant out;
  const HResult hr = ChangeType(value, to, out);
  if (hr == DISP_E_OVERFLOW) throw AutomationError(failure::kOverflow, u"Overflow");
  if (hr != S_OK_) throw AutomationError(failure::kTypeMismatch, u"Type mismatch");
  return out;
}

std::int32_t Integer(const Variant& value) { return static_cast<std::int32_t>(Coerced(value, VT_I4).integer()); }

std::shared_ptr<Dispatch> Object(const Variant& value) {
  auto object = Coerced(value, VT_DISPATCH).dispatch();
  if (!object) throw AutomationError(failure::kObjectNotSet, u"Object variable or With block variable not set");
  return object;
}

std::u16string GroupText(Dispatch& shape, int depth) {
  if (depth > kMaxGroupDepth) throw AutomationError(kOutOfStackSpace, u"Out of stack space");
  std::u16string text;
  if (Integer(Get(shape, u"Type")) != ppt::kMsoGroup) return text;
  const auto items = Object(Get(shape, u"GroupItems"));
  const auto enumerator = Object(Get(*items, u"_NewEnum"));
  for (;;) {
    const Variant next = enumerator->Call(u"Next", DISPATCH_METHOD).Dereferenced();
    if (next.is_empty()) break;
    const auto item = Object(next);
    if (Integer(Get(*item, u"Type")) == ppt::kMsoGroup) {
      text += GroupText(*item, depth + 1);
    } else if (Integer(Get(*item, u"HasTextFrame")) != 0 &&
               Integer(Get(*Object(Get(*item, u"TextFrame")), u"HasText")) != 0) {
      const auto range = Object(Get(*Object(Get(*item, u"TextFrame")), u"TextRange"));
      text += Coerced(Get(*range, u"Text"), VT_BSTR).string();
      text += kLineBreak;
    }
  }
  return text;
}

}  // namespace

// Collects the text of the group's items, nested groups in place. Catches nothing: the first
// failing request ends the call with its failure, and nothing collected is returned.
std::u16string TextFromGroupShape(const std::shared_ptr<Dispatch>& oSh) { return GroupText(Use(oSh), 0); }

// Every request addresses the shape anew from the presentation, and every failing request is
// passed over as the extraction's rules say: the text and label keep what they held and the steps
// go on. The result therefore holds whatever could be read.
std::u16string ExtractSlideText(ppt::Presentation& presentation, std::int32_t slideIndex, std::int32_t shapeIndex,
                                bool labels) {
  const auto shape = [&]() -> std::shared_ptr<ppt::Shape> {
    auto found = Use(Use(Use(presentation.Slides()).Item(slideIndex)).Shapes()).Item(shapeIndex);
    Use(found);
    return found;
  };
  const auto textOf = [](ppt::Shape& s) { return Use(Use(s.TextFrame()).TextRange()).Text(); };
  const auto typeIs = [&](std::int32_t type) {
    bool is = true;  // a failed Type request counts as a match
    Attempt([&] { is = shape()->Type() == type; });
    return is;
  };

  std::u16string text;
  std::u16string label;

  // Both answers of the text test are asked; when either request fails, the shape passes.
  office::Tristate hasTextFrame = 0, hasText = 0;
  bool answered = Attempt([&] { hasTextFrame = shape()->HasTextFrame(); });
  answered = Attempt([&] { hasText = Use(shape()->TextFrame()).HasText(); }) && answered;

  if (!answered || (hasTextFrame & hasText) != 0) {
    if (typeIs(ppt::kMsoPlaceholder)) {
      if (Attempt([&] { label = PlaceholderLabel(Use(shape()->PlaceholderFormat()).Type()); }))
        Attempt([&] { text += textOf(*shape()) + std::u16string(kLineBreak); });
    } else {
      label = u"** TextBox **";
      Attempt([&] { text += textOf(*shape()) + std::u16string(kLineBreak); });
    }
  } else {
    if (typeIs(ppt::kMsoGroup)) {
      std::u16string collected;  // a failure counts as an empty result
      Attempt([&] { collected = TextFromGroupShape(office::MakeShapeDispatch(shape())); });
      if (!collected.empty()) {
        label = u"** Group **";
        text += collected;
        text += kLineBreak;
      }
    }
    if (typeIs(ppt::kMsoTable)) {
      label = u"** Table **";
      // A count that cannot be read leaves that dimension empty. The counts are 32-bit, the loop
      // counters wider, so that every table PowerPoint can hold is read in full.
      std::int32_t rows = 0, columns = 0;
      Attempt([&] { rows = Use(shape()->Table()).RowsCount(); });
      Attempt([&] { columns = Use(shape()->Table()).ColumnsCount(); });
      for (std::int64_t r = 1; r <= rows; ++r) {
        for (std::int64_t c = 1; c <= columns; ++c) {
          text += u"(" + text::Decimal(r) + u"," + text::Decimal(c) + u"): " + std::u16string(kLineBreak);
          Attempt([&] {
            const auto cell = Use(shape()->Table()).Cell(static_cast<std::int32_t>(r), static_cast<std::int32_t>(c));
            text += textOf(Use(Use(cell).Shape())) + std::u16string(kLineBreak);
          });
        }
      }
    }
  }

  if (labels) {
    text.insert(0, u"----- Slide(" + text::Decimal(slideIndex) + u") Shape(" + text::Decimal(shapeIndex) + u") " +
                       label + u" -----" + std::u16string(kLineBreak));
  }
  return text;
}

}  // namespace quorvane::converters
