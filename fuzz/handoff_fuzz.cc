// The bytes a connection to the single-instance socket may carry: anything.
// They must read the same whole as in pieces of any size, and a message that
// reads must write back to a message that reads as the same arguments.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "shell/instance.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the size of the pieces; the rest is the stream.
  const size_t piece = static_cast<size_t>(data[0]) % 16 + 1;
  std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);

  auto whole = shell::decodeHandoff(stream);
  shell::handoffReader reader;
  for (size_t at = 0; at < stream.size(); at += piece) {
    if (reader.add(stream.substr(at, piece))) break;
  }
  auto pieces = reader.decode();
  if (whole.ok() != pieces.ok()) std::abort();
  if (!whole.ok()) return 0;
  if (whole->Args != pieces->Args) std::abort();

  auto again = shell::decodeHandoff(shell::encodeHandoff(whole->Args));
  if (!again.ok() || again->Args != whole->Args) std::abort();
  return 0;
}
