// Dispatch objects over the shape, group items, text frame and text range of the object model.
#include "office/shape_dispatch.hpp"

#include <span>

#include "common/text.hpp"
#include "common/dispatch_support.hpp"

namespace quorvane::office {
namespace {

inline constexpr DispId kDispIdValue = 0;     // the default member
inline constexpr DispId kDispIdNewEnum = -4;  // the enumerator of a collection

// How a member may be invoked.
enum class Style {
  Property,          // DISPATCH_PROPERTYGET, alone or with DISPATCH_METHOD
  MethodOrProperty,  // either
  Method,            // DISPATCH_METHOD, alone or with DISPATCH_PROPERTYGET
};

struct Member {
  std::u16string_view name;
  DispId id;
  Style style;
  std::size_t argc;
};

bool KindAllowed(Style style, std::uint16_t kind) {
  if (kind == 0 || (kind & ~(DISPATCH_METHOD | DISPATCH_PROPERTYGET)) != 0) return false;
  switch (style) {
    case Style::Property: return (kind & DISPATCH_PROPERTYGET) != 0;
    case Style::Method: return (kind & DISPATCH_METHOD) != 0;
    case Style::MethodOrProperty: return true;
  }
  return false;
}

// A small late-bound object: a fixed member table, and one call per member.
class LateBound : public Dispatch {
 public:
  HResult GetIDOfName(std::u16string_view name, DispId& id) override {
    for (const auto& m : Members()) {
      if (text::EqualsIgnoreCase(m.name, name)) {
        id = m.id;
        return S_OK_;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }

  HResult Invoke(DispId id, std::uint16_t kind, std::span<Variant> args, Variant* result, ExcepInfo* excep) override {
    try {
      const Member* member = nullptr;
      for (const auto& m : Members())
        if (m.id == id) member = &m;
      if (!member || !KindAllowed(member->style, kind)) return DISP_E_MEMBERNOTFOUND;
      if (args.size() != member->argc) return DISP_E_BADPARAMCOUNT;
      Variant value;
      if (const HResult hr = Call(id, args, value); hr != S_OK_) return hr;
      if (result) *result = std::move(value);
      return S_OK_;
    } catch (...) {
      return detail::CurrentExceptionToExcepInfo(excep);
    }
  }

 protected:
  virtual std::span<const Member> Members() const = 0;
  // Answers member `id` (known, invoked with an allowed kind and the right number of arguments).
  virtual HResult Call(DispId id, std::span<Variant> args, Variant& value) = 0;
};

template <typename Adapter, typename Object>
Variant Wrap(std::shared_ptr<Object> object) {
  if (!object) return Variant(Variant::DispatchPtr());
  return Variant(Variant::DispatchPtr(std::make_shared<Adapter>(std::move(object))));
}

class TextRangeDispatch final : public LateBound {
 public:
  explicit TextRangeDispatch(std::shared_ptr<ppt::TextRange> range) : range_(std::move(range)) {}

 private:
  static constexpr Member kMembers[] = {{u"Text", 1, Style::Property, 0}};
  std::span<const Member> Members() const override { return kMembers; }
  HResult Call(DispId, std::span<Variant>, Variant& value) override {
    value = Variant(range_->Text());
    return S_OK_;
  }
  std::shared_ptr<ppt::TextRange> range_;
};

class TextFrameDispatch final : public LateBound {
 public:
  explicit TextFrameDispatch(std::shared_ptr<ppt::TextFrame> frame) : frame_(std::move(frame)) {}

 private:
  static constexpr Member kMembers[] = {{u"HasText", 1, Style::Property, 0}, {u"TextRange", 2, Style::Property, 0}};
  std::span<const Member> Members() const override { return kMembers; }
  HResult Call(DispId id, std::span<Variant>, Variant& value) override {
    if (id == 1)
      value = Variant(frame_->HasText());
    else
      value = Wrap<TextRangeDispatch>(frame_->TextRange());
    return S_OK_;
  }
  std::shared_ptr<ppt::TextFrame> frame_;
};

class ShapeDispatch final : public LateBound {
 public:
  explicit ShapeDispatch(std::shared_ptr<ppt::Shape> shape) : shape_(std::move(shape)) {}

 private:
  static constexpr Member kMembers[] = {
      {u"Type", 1, Style::Property, 0},
      {u"GroupItems", 2, Style::Property, 0},
      {u"HasTextFrame", 3, Style::Property, 0},
      {u"TextFrame", 4, Style::Property, 0},
  };
  std::span<const Member> Members() const override { return kMembers; }
  HResult Call(DispId id, std::span<Variant>, Variant& value) override;
  std::shared_ptr<ppt::Shape> shape_;
};

// Walks a group's items in collection order; Count is read when the enumerator is made.
class EnumeratorDispatch final : public LateBound {
 public:
  explicit EnumeratorDispatch(std::shared_ptr<ppt::GroupItems> items)
      : items_(std::move(items)), count_(items_->Count()) {}

 private:
  static constexpr Member kMembers[] = {{u"Next", 1, Style::Method, 0}, {u"Reset", 2, Style::Method, 0}};
  std::span<const Member> Members() const override { return kMembers; }
  HResult Call(DispId id, std::span<Variant>, Variant& value) override {
    if (id == 2) {
      next_ = 1;
      value = Variant();
    } else if (next_ > count_) {
      value = Variant();
    } else {
      value = Wrap<ShapeDispatch>(items_->Item(next_));
      ++next_;  // only after the item was fetched: a failed fetch can be asked again
    }
    return S_OK_;
  }
  std::shared_ptr<ppt::GroupItems> items_;
  std::int32_t count_;
  std::int32_t next_ = 1;
};

class GroupItemsDispatch final : public LateBound {
 public:
  explicit GroupItemsDispatch(std::shared_ptr<ppt::GroupItems> items) : items_(std::move(items)) {}

 private:
  static constexpr Member kMembers[] = {
      {u"Item", kDispIdValue, Style::MethodOrProperty, 1},
      {u"Count", 1, Style::Property, 0},
      {u"_NewEnum", kDispIdNewEnum, Style::MethodOrProperty, 0},
  };
  std::span<const Member> Members() const override { return kMembers; }
  HResult Call(DispId id, std::span<Variant> args, Variant& value) override {
    switch (id) {
      case kDispIdValue: {
        Variant index;
        if (const HResult hr = detail::ChangeType(args[0], VT_I4, index); hr != S_OK_) return hr;
        value = Wrap<ShapeDispatch>(items_->Item(static_cast<std::int32_t>(index.integer())));
        return S_OK_;
      }
      case 1:
        value = Variant(items_->Count());
        return S_OK_;
      default:
        value = Variant(Variant::DispatchPtr(std::make_shared<EnumeratorDispatch>(items_)));
        return S_OK_;
    }
  }
  std::shared_ptr<ppt::GroupItems> items_;
};

HResult ShapeDispatch::Call(DispId id, std::span<Variant>, Variant& value) {
  switch (id) {
    case 1: value = Variant(shape_->Type()); break;
    case 2: value = Wrap<GroupItemsDispatch>(shape_->GroupItems()); break;
    case 3: value = Variant(shape_->HasTextFrame()); break;
    default: value = Wrap<TextFrameDispatch>(shape_->TextFrame()); break;
  }
  return S_OK_;
}

}  // namespace

std::shared_ptr<Dispatch> MakeShapeDispatch(std::shared_ptr<ppt::Shape> shape) {
  if (!shape) return nullptr;
  return std::make_shared<ShapeDispatch>(std::move(shape));
}

}  // namespace quorvane::office
