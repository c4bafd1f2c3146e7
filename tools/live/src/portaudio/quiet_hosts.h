#pragma once

namespace kova::live::portaudio {

// Keeps ALSA's and JACK's own messages off standard error: probing for
// devices makes them complain about every card or server that is not there,
// and the commands promise one line per error.
void quiet_host_libraries();

}  // namespace kova::live::portaudio
