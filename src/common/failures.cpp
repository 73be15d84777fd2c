// The failure registry's descriptions, one row per number.
#include "common/failures.hpp"

#include <array>
#include <string>

namespace quorvane::failure {
namespace {

struct Row {
  std::int32_t number;
  std::u16string_view description;
};

// Run-time errors in the platform's words; HRESULTs in the system's, except E_FAIL, which the
// engines raise for a picture or export filter nobody serves and which says so.
constexpr std::array<Row, 47> kRows{{
    {kInvalidCall, u"Invalid procedure call or argument"},
    {kOverflow, u"Overflow"},
    {kOutOfMemory, u"Out of memory"},
    {kSubscriptOutOfRange, u"Subscript out of range"},
    {kDivisionByZero, u"Division by zero"},
    {kTypeMismatch, u"Type mismatch"},
    {kOutOfStackSpace, u"Out of stack space"},
    {kLibraryNotLoaded, u"Error in loading DLL"},
    {kBadFileNameOrNumber, u"Bad file name or number"},
    {kFileNotFound, u"File not found"},
    {kFileAlreadyOpen, u"File already open"},
    {kDeviceIoError, u"Device I/O error"},
    {kDiskFull, u"Disk full"},
    {kBadFileName, u"Bad file name"},
    {kTooManyFiles, u"Too many files"},
    {kPermissionDenied, u"Permission denied"},
    {kPathFileAccessError, u"Path/File access error"},
    {kPathNotFound, u"Path not found"},
    {kObjectNotSet, u"Object variable or With block variable not set"},
    {kCannotCreateObject, u"ActiveX component can't create object"},
    {kMemberNotSupported, u"Object doesn't support this property or method"},
    {kServerUnavailable, u"The remote server machine does not exist or is unavailable"},

    {kWordNoDocumentOpen, u"This command is not available because no document is open."},
    {kWordNotAvailable, u"This method or property is not available"},
    {kWordValueOutOfRange, u"Value out of range."},
    {kWordObjectDeleted, u"Object has been deleted."},

    {kPowerPointInvalidRequest, u"Invalid request."},
    {kEFail, u"PowerPoint can't export the slide(s) because no installed converter supports this file type."},
    {kEInvalidArg, u"The parameter is incorrect."},
    {kWin32FileNotFound, u"The system cannot find the file specified."},
    {kWin32PathNotFound, u"The system cannot find the path specified."},
    {kEAccessDenied, u"Access is denied."},
    {kWin32InvalidData, u"The data is invalid."},
    {kEOutOfMemory, u"Not enough memory resources are available to complete this operation."},
    {kWin32DiskFull, u"There is not enough space on the disk."},
    {kWin32Timeout, u"This operation returned because the timeout period expired."},
    {kRpcServerUnavailable, u"The RPC server is unavailable."},
    {kStgReadFault, u"A disk error occurred during a read operation."},
    {kStgCantSave, u"Can't save."},
    {kDispBadIndex, u"Invalid index."},
    {kDispMemberNotFound, u"Member not found."},
    {kDispTypeMismatch, u"Type mismatch."},
    {kDispUnknownName, u"Unknown name."},
    {kDispException, u"Exception occurred."},
    {kDispOverflow, u"Out of present range."},
    {kDispBadParamCount, u"Invalid number of parameters."},
    {kDispParamNotOptional, u"Parameter not optional."},
}};

// One number, one name: two names given the same number would make two rows equal here.
constexpr bool EveryNumberOnce() {
  for (std::size_t i = 0; i < kRows.size(); ++i)
    for (std::size_t j = i + 1; j < kRows.size(); ++j)
      if (kRows[i].number == kRows[j].number) return false;
  return true;
}
static_assert(EveryNumberOnce(), "two failure names share a number");

}  // namespace

std::u16string_view Description(std::int32_t number) {
  for (const Row& row : kRows)
    if (row.number == number) return row.description;
  return {};
}

AutomationError Error(std::int32_t number) { return AutomationError(number, std::u16string(Description(number))); }

}  // namespace quorvane::failure
