// The converters' step mechanism, progress arithmetic and per-slide names.
#include <gtest/gtest.h>

#include <vector>

#include "converters/steps.hpp"

namespace quorvane::detail {
namespace {

struct Script {
  std::vector<Resolution> answers;  // what the path answers, failure by failure
  std::vector<std::int32_t> seen;
  std::vector<std::int32_t> gaveUp;
  Steps::Path Path() {
    return {[this](const Failure& f) {
              seen.push_back(f.number);
              const auto r = answers.at(seen.size() - 1);
              return r;
            },
            [this](const Failure& f) { gaveUp.push_back(f.number); }};
  }
};

TEST(Steps, ResolutionsDecideWhatHappensNext) {
  struct Row {
    const char* name;
    int failuresBeforeSuccess;  // the step fails this many times, then succeeds
    std::vector<Resolution> answers;
    int expectedAttempts;
    bool ended;
    int gaveUp;
  };
  const Row rows[] = {
      {"success", 0, {}, 1, false, 0},
      {"skip", 1, {Resolution::Skip}, 1, false, 0},
      {"end", 1, {Resolution::End}, 1, true, 0},
      {"repeat once then success", 1, {Resolution::Repeat}, 2, false, 0},
      {"third try succeeds", 2, {Resolution::Repeat, Resolution::Repeat}, 3, false, 0},
      {"three failed tries give up", 5, {Resolution::Repeat, Resolution::Repeat, Resolution::Repeat}, 3, true, 1},
      {"repeat then skip", 5, {Resolution::Repeat, Resolution::Skip}, 2, false, 0},
  };
  for (const auto& row : rows) {
    Script script{row.answers, {}, {}};
    Steps steps(script.Path());
    int attempts = 0;
    bool ended = false;
    try {
      steps.Run([&] {
        if (attempts++ < row.failuresBeforeSuccess) throw AutomationError(55, u"File already open");
      });
    } catch (const RunEnded& e) {
      ended = true;
      EXPECT_EQ(e.failure.number, 55) << row.name;
    }
    EXPECT_EQ(attempts, row.expectedAttempts) << row.name;
    EXPECT_EQ(ended, row.ended) << row.name;
    EXPECT_EQ(static_cast<int>(script.gaveUp.size()), row.gaveUp) << row.name;
  }
}

TEST(Steps, AnyExceptionBecomesAFailure) {
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
  EXPECT_EQ(seen.number, static_cast<std::int32_t>(0x80048240u));
  EXPECT_EQ(seen.description, u"Invalid request");
}

TEST(Steps, AFailureInsideThePathItselfIsNotHandled) {
  Steps steps({[](const Failure&) -> Resolution { throw AutomationError(91, u"inside the path"); },
               [](const Failure&) {}});
  try {
    steps.Run([] { throw AutomationError(5, u"step"); });
    FAIL() << "expected the path's failure";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 91);
  }
}

TEST(Steps, ProgressStepArithmetic) {
  struct Row {
    std::int32_t start, end;
    float step;
    std::int32_t failure;  // 0: none
  };
  const Row rows[] = {
      {1, 1, 100.0f, 0},   {1, 3, 100.0f / 3.0f, 0}, {2, 4, 100.0f / 3.0f, 0},
      {6, 5, 0.0f, 11},    {1, 0, 0.0f, 11},          {8, 5, -50.0f, 0},
      {0, INT32_MAX, 0.0f, 6}, {1, INT32_MAX, 100.0f / 2147483647.0f, 0}, {INT32_MIN, 1, 0.0f, 6},
  };
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
  struct Row {
    std::u16string base, extension, expected;
  };
  const Row rows[] = {
      {u"/out/deck.pdf", u"pdf", u"/out/deck"},
      {u"/out/deck.PDF", u"pdf", u"/out/deck"},
      {u"/out/deck.pptx", u"pptx", u"/out/deck"},
      {u"/out/deck", u"pdf", u"/out/deck"},
      {u"/home/docs/deck", u"DOC", u"/home/docs/deck"},
      {u"/out/deck.pdf.files/deck", u"pdf", u"/out/deck.pdf.files/deck"},
      {u"/out/deckpdf", u"pdf", u"/out/deckpdf"},
      {u"a.b", u"b", u"a"},
      {u".b", u"b", u""},
      {u"b", u"b", u"b"},
      {u"/out/deck.", u"", u"/out/deck."},
      {u"/out/deck.rtf", u"", u"/out/deck.rtf"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(WithoutExtension(row.base, row.extension), row.expected)
        << std::string(row.base.begin(), row.base.end()) << " / " << std::string(row.extension.begin(), row.extension.end());
}

}  // namespace
}  // namespace quorvane::detail
