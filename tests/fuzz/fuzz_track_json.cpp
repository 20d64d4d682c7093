// Any bytes load as multy_tracs.json without harm: an unusable file leaves the default track alone,
// and whatever was loaded is saved as text that loads back equal and saves identically.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tracks/track_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vistrel::MultiTrackConfig config;
  if (!config.LoadJson(text)) {
    if (config.Tracks().size() != 1 || config.Tracks()[0].audio_input_id != L"Default") std::abort();
  }

  const std::string saved = config.ToJson();
  for (std::size_t i = 0; i < saved.size(); ++i) {
    if (saved[i] == '\n' && (i == 0 || saved[i - 1] != '\r')) std::abort();
  }
  vistrel::MultiTrackConfig reloaded;
  if (!reloaded.LoadJson(saved)) std::abort();
  if (!(reloaded == config)) std::abort();
  if (reloaded.ToJson() != saved) std::abort();
  return 0;
}
