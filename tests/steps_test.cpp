// The converters' step mechanism, progress arithmetic and per-slide names.
#include <gtest/gtest.h>

#include <vector>

#include "converters/steps.hpp"

namespace quorvane::converters {
namespace {

TEST(Steps, ResolutionsDecideWhatHappensNext) {
  using R = Resolution;
  struct Row {
    const char* name; int failuresBeforeSuccess; std::vector<R> answers; int attempts; bool ended; int gaveUp;
  };
  const Row rows[] = {
      {"success", 0, {}, 1, false, 0},
      {"skip", 1, {R::Skip}, 1, false, 0},
      {"end", 1, {R::End}, 1, true, 0},
      {"repeat then success", 2, {R::Repeat, R::Repeat}, 3, false, 0},
      {"three failed tries give up", 5, {R::Repeat, R::Repeat, R::Repeat}, 3, true, 1},
      {"repeat then skip", 5, {R::Repeat, R::Skip}, 2, false, 0},
  };
  for (const auto& row : rows) {
    std::size_t seen = 0;
    int gaveUp = 0, attempts = 0;
    bool ended = false;
    Steps steps({[&](const Failure&) { return row.answers.at(seen++); }, [&](const Failure&) { ++gaveUp; }});
    try {
      steps.Run([&] {
        if (attempts++ < row.failuresBeforeSuccess) throw AutomationError(55, u"File already open");
      });
    } catch (const RunEnded& e) {
      ended = true;
      EXPECT_EQ(e.failure.number, 55) << row.name;
    }
    EXPECT_EQ(attempts, row.attempts) << row.name;
    EXPECT_EQ(ended, row.ended) << row.name;
    EXPECT_EQ(gaveUp, row.gaveUp) << row.name;
  }
}

TEST(Steps, AnyExceptionBecomesAFailureButOneInsideThePathEscapes) {
  Failure seen;
  Steps steps({[&](const Failure& f) {
                 seen = f;
                 return Resolution::Skip;
               },
               [](const Failure&) {}});
  steps.Run([] { throw std::bad_alloc(); });
  EXPECT_EQ(seen.number, 7);
  steps.Run([] { throw std::runtime_error("boom"); });
  EXPECT_EQ(seen.number, 5);
  EXPECT_EQ(seen.description, u"boom");
  steps.Run([] { throw AutomationError(failure::kPowerPointInvalidRequest, u"Invalid request"); });
  EXPECT_EQ(seen.number, failure::kPowerPointInvalidRequest);
  EXPECT_EQ(seen.description, u"Invalid request");
  Steps inside({[](const Failure&) -> Resolution { throw AutomationError(91, u"inside"); }, [](const Failure&) {}});
  try {
    inside.Run([] { throw AutomationError(5, u"step"); });
    ADD_FAILURE() << "expected the path's failure";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 91);
  }
}

TEST(Steps, ProgressStepArithmetic) {
  const struct {
    std::int32_t start, end; float step; std::int32_t failure;
  } rows[] = {{1, 1, 100.0f, 0},  {2, 4, 100.0f / 3.0f, 0}, {6, 5, 0, 11},         {8, 5, -50.0f, 0},
              {0, INT32_MAX, 0, 6}, {1, INT32_MAX, 100.0f / 2147483647.0f, 0}, {INT32_MIN, 1, 0, 6}};
  for (const auto& row : rows) {
    try {
      EXPECT_FLOAT_EQ(ProgressStep(row.start, row.end), row.step) << row.start << ".." << row.end;
      EXPECT_EQ(row.failure, 0) << row.start << ".." << row.end;
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), row.failure) << row.start << ".." << row.end;
    }
  }
}

TEST(Steps, WithoutExtensionRemovesOnlyAMatchingSuffix) {
  const struct {
    std::u16string base, extension, expected;
  } rows[] = {{u"/out/deck.PDF", u"pdf", u"/out/deck"},  {u"/out/deck.pptx", u"pptx", u"/out/deck"},
              {u"/out/deck", u"pdf", u"/out/deck"},      {u"/o/deck.pdf.files/d", u"pdf", u"/o/deck.pdf.files/d"},
              {u"/out/deckpdf", u"pdf", u"/out/deckpdf"}, {u".b", u"b", u""},
              {u"b", u"b", u"b"},                        {u"/out/deck.", u"", u"/out/deck."},
              {u"/out/deck.rtf", u"", u"/out/deck.rtf"}};
  for (const auto& row : rows)
    EXPECT_EQ(WithoutExtension(row.base, row.extension), row.expected)
        << std::string(row.base.begin(), row.base.end()) << " / " << std::string(row.extension.begin(), row.extension.end());
}

}  // namespace
}  // namespace quorvane::converters
