#pragma once
// Running conversions through the control: one input or a batch, on one or more worker threads.
//
// Each worker thread makes a converter of its own (a control of this process, or a server's
// connection) and converts the inputs it takes from the shared queue in turn on it: a control
// belongs to the thread that created it, and with OptimizeForSpeed true its engines stay warm from
// one input to the next. The results are handed to
// the caller in input order, each as soon as it and every input before it have finished, whatever
// the order in which the workers finish them. With several workers the largest inputs are taken first.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/conversion.hpp"
#include "status_line.hpp"

namespace quorvane::cli {

using service::ConversionJob;
using service::ConversionResult;
using service::ConversionSettings;
using service::Converter;

// Converts `jobs` on `workers` threads (at least 1; never more than there are jobs), each on a
// converter of its own that `makeConverter` makes on that thread, and calls `deliver` with each
// job's index and result, in input order, on the calling thread. Progress goes to `status` (its
// inputs are the jobs, in the same order).
void RunConversions(const std::vector<ConversionJob>& jobs, const ConversionSettings& settings, std::size_t workers,
                    const std::function<std::unique_ptr<Converter>()>& makeConverter, StatusLine& status,
                    const std::function<void(std::size_t index, const ConversionResult& result)>& deliver);

}  // namespace quorvane::cli
