// Every transcript under tests/transcripts, run on the simulated bench: the
// whole command stream, the program's waits, what the check leaves behind, and
// leaving at every press of its sweep; and the verdict cases (verdict-*.txt):
// readings on and one step past each limit, readings that cannot be divided by
// or rounded, and empty replies, judged by the result lines, the fail mark and
// the bell.
#include <gtest/gtest.h>

#include <string>

#include "support/check_harness.h"
#include "support/dialogue_files.h"

namespace kc {
namespace {

class TranscriptTest : public CheckTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(TranscriptTest, RunsAsWritten) {
  ExpectTranscript(ReadTranscript(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Checks, TranscriptTest, ::testing::ValuesIn(TranscriptNames()),
                         harness::DialogueCaseName);

}  // namespace
}  // namespace kc
