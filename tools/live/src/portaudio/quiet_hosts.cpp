#include "quiet_hosts.h"

#ifdef KOVA_LIVE_QUIET_ALSA
#include <alsa/asoundlib.h>
#endif
#ifdef KOVA_LIVE_QUIET_JACK
#include <jack/jack.h>
#endif

namespace kova::live::portaudio {

namespace {
#ifdef KOVA_LIVE_QUIET_ALSA
void ignore_alsa(const char*, int, const char*, int, const char*, ...) {}
#endif
#ifdef KOVA_LIVE_QUIET_JACK
void ignore_jack(const char*) {}
#endif
}  // namespace

void quiet_host_libraries()
{
#ifdef KOVA_LIVE_QUIET_ALSA
    snd_lib_error_set_handler(ignore_alsa);
#endif
#ifdef KOVA_LIVE_QUIET_JACK
    // PortAudio installs its own error function once connected, but the
    // failed connection to a server that is not running comes first.
    jack_set_error_function(ignore_jack);
    jack_set_info_function(ignore_jack);
#endif
}

}  // namespace kova::live::portaudio
