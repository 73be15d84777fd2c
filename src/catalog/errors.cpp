// The error catalogue, defined once.
#include <array>

#include "quorvane/catalog.hpp"

namespace quorvane::catalog {
namespace {

constexpr std::array<ErrorEntry, 18> kErrors{{
    {-1, u"Unable to open necessary ZEB DLL"},
    {-2, u"Input file name not provided."},
    {-3, u"Output file name not provided."},
    {-4, u"AVAILABLE FOR USAGE IN GETERRRORSTRING()"},
    {-5, u"Input file not found. Please check the path"},
    {-6, u"Input and Output Filename are same"},
    {-7, u"Invalid Extension Number"},
    {-8, u"Invalid Extension Index"},
    {-9, u"Please ensure MS-Word and MS-Powerpoint are installed in the system before performing this conversion."},
    {-10, u"Conversion Failed. PowerPoint installed?"},
    {-11, u"Output path not found"},
    {-12, u"Unable to create PowerPoint application...is it installed?"},
    {-13, u"Unable to destroy PowerPoint application..."},
    {-14, u"Unable to Create Word application...is it installed?"},
    {-15, u"Unable to destroy Word application."},
    {-16, u"Unable to convert to file type specified. PowerPoint version may not support it."},
    {-17, u"PowerPoint can't export the slide(s) because no installed converter supports this file type."},
    {-18, u"Target file is read only."},
}};
static_assert(kErrors.size() == 18 && kErrors.back().code == -18);

}  // namespace

std::span<const ErrorEntry> Errors() { return kErrors; }

std::u16string_view ErrorMessage(std::int64_t code) {
  for (const auto& row : kErrors)
    if (row.code == code) return row.message;
  return {};
}

}  // namespace quorvane::catalog
