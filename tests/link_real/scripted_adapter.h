// A GPIB adapter that plays its side of a dialogue written by hand (the
// adapter's lines of a file under tests/transcripts/adapter). It is the
// driver's byte stream: what the driver sends is compared, line by line in
// order, with the "> " lines, and each line it expects is answered as the
// file says; what comes before the first "> " line is there at once. Each
// answer arrives as a piece of its own, nothing arrives unless the file says
// so, and a read with nothing to take times out at once.
//
//   > LINE      a line the driver sends (its LF added)
//   < LINE      a line the adapter answers (CR LF added)
//   << BYTES    bytes the adapter answers as they stand (a reply and its end mark)
//   ~ BYTES     bytes that trickle in, one every 30 ms
//   drop        the adapter closes the connection; the next one is taken
//   refuse      no connection is taken any more (first in the file: none ever)
//   repeat      the exchange above comes again as often as the driver asks
//
// In LINE and BYTES: \e is ESC, \r CR, \n LF, \xHH a byte, \\ a backslash.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "link/adapter_stream.h"

namespace kc::testing {

class ScriptedAdapter : public AdapterStream {
 public:
  // Where the adapter is, as the driver's messages name it.
  static constexpr const char* kWhere = "192.168.1.50:1234";

  // The adapter's lines of a dialogue, each of a kind above.
  explicit ScriptedAdapter(const std::vector<std::string>& lines);
  // Whether a line of that first word is the adapter's.
  static bool IsAdapterLine(const std::string& first_word);

  std::error_code Open(Deadline deadline) override;
  void Close() override { open_ = false; }
  bool is_open() const override { return open_; }
  std::string Describe() const override { return kWhere; }

  // Everything the driver sent, over every connection.
  const std::string& Received() const { return received_; }
  // What the file says the driver sends: the lines met so far (a repeated
  // exchange as often as it came) and those still to come.
  std::string Expected() const;

 protected:
  std::error_code WriteSome(std::string_view data, Deadline deadline, std::size_t* sent) override;
  std::error_code ReadSome(Deadline deadline, std::string* out) override;

 private:
  struct Step {
    std::string kind;  // as the file writes it: ">", "<", "<<", "~", "drop"...
    std::string bytes;
  };
  // Takes the expected lines that have come in whole and answers each.
  void Play();
  // Plays the steps up to the next expected line.
  void Answer();

  std::vector<Step> steps_;
  std::size_t next_ = 0;         // the step the adapter is at
  std::size_t repeat_from_ = 0;  // the "> " step that a repeat goes back to
  bool repeating_ = false;       // the exchange there came at least once
  bool derailed_ = false;        // the driver sent something else: no more answers
  std::string received_;
  std::string met_;  // the expected lines met so far
  std::deque<std::string> input_;
  std::string trickle_;
  bool open_ = false;
  bool closed_by_peer_ = false;
  bool refusing_ = false;
};

}  // namespace kc::testing
