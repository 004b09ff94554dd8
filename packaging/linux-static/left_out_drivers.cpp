// Linked before Debian's libSDL2.a into the self-contained player. SDL there calls
// its drivers' libraries directly instead of opening them at run time, so every
// driver linked in becomes a library the reader's machine must have. These
// definitions stand in for the drivers left out, so that the linker never pulls
// their code: X11 (XWayland on Wayland desktops) shows the window, ALSA, PipeWire
// and sndio play the sound (the last two are opened at run time).
#include <cstddef>

namespace {

void* noVideoDevice() {
    return nullptr;
}
int noAudioDriver(void*) {
    return 0;
}

struct VideoBootStrap {
    const char* name;
    const char* desc;
    void* (*create)();
};

struct AudioBootStrap {
    const char* name;
    const char* desc;
    int (*init)(void*);
    int demandOnly;
};

} // namespace

extern "C" {

VideoBootStrap Wayland_bootstrap = {"wayland", "left out of this player", noVideoDevice};
VideoBootStrap KMSDRM_bootstrap = {"KMSDRM", "left out of this player", noVideoDevice};
AudioBootStrap PULSEAUDIO_bootstrap = {"pulseaudio", "left out of this player", noAudioDriver, 0};

// libsamplerate: SDL uses it only when SDL_AUDIO_RESAMPLING_MODE asks for it; without
// it SDL falls back to its own resampler.
struct NoResampler;
NoResampler* src_new(int, int, int* error) {
    if (error != nullptr) {
        *error = 1;
    }
    return nullptr;
}
NoResampler* src_delete(NoResampler*) {
    return nullptr;
}
int src_process(NoResampler*, void*) {
    return 1;
}
int src_reset(NoResampler*) {
    return 1;
}
int src_simple(void*, int, int) {
    return 1;
}
const char* src_strerror(int) {
    return "libsamplerate is left out of this player";
}
}
