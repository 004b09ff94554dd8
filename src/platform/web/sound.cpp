// Wave files through WebAudio. The file is decoded by the shared decoder, as the Linux
// player decodes it (the browser's own decoder refuses the ADPCM encodings), handed over as one
// AudioBuffer and played from the start; a new sound stops the old one, whatever comes of the new
// one. Browsers start audio only after a gesture: until the first key press or tap the latest sound
// waits, and then starts where it would be by now, or not at all when it would be over already. The
// analyser on the way out lets a page see the signal.
#include "platform/platform.h"
#include "platform/soft/wave_decoder.h"
#include "platform/web/web.h"

#include <emscripten.h>

namespace {

// clang-format off
EM_JS(void, prepareAudio, (), {
    if (Module.bexuAudio) return;
    var audio = Module.bexuAudio = {context: null, analyser: null, source: null, pending: null};
    audio.stop = function() {
        if (audio.source) {
            try { audio.source.stop(); } catch (e) {}
            audio.source.disconnect();
            audio.source = null;
        }
        audio.pending = null;
    };
    audio.start = function(buffer, offset) {
        var source = audio.context.createBufferSource();
        source.buffer = buffer;
        source.connect(audio.analyser);
        source.onended = function() {
            if (audio.source === source) { source.disconnect(); audio.source = null; }
        };
        source.start(0, offset);
        audio.source = source;
    };
    Module.bexuStopSound = audio.stop;
});

EM_JS(void, allowAudio, (), {
    var audio = Module.bexuAudio;
    if (audio.context) return;
    var Context = window.AudioContext || window.webkitAudioContext;
    if (!Context) return;
    audio.context = new Context();
    audio.analyser = audio.context.createAnalyser();
    audio.analyser.connect(audio.context.destination);
    if (audio.context.state !== "running") audio.context.resume();
    var pending = audio.pending;
    audio.pending = null;
    if (pending) {
        var offset = (performance.now() - pending.requested) / 1000;
        if (offset < pending.buffer.duration) audio.start(pending.buffer, offset);
    }
});

EM_JS(void, stopSound, (), {
    Module.bexuAudio.stop();
});

// Samples are full-scale 32-bit integers, interleaved.
EM_JS(void, playSamples, (const int32_t* samples, uint32_t channels, uint32_t frames,
                          uint32_t rate), {
    var audio = Module.bexuAudio;
    var buffer;
    try {
        buffer = new AudioBuffer({numberOfChannels: channels, length: frames, sampleRate: rate});
    } catch (e) {
        return; // a rate or length the browser does not play
    }
    var first = samples >> 2;
    for (var channel = 0; channel < channels; ++channel) {
        var out = buffer.getChannelData(channel);
        for (var i = 0, at = first + channel; i < frames; ++i, at += channels) {
            out[i] = HEAP32[at] / 2147483648;
        }
    }
    if (audio.context) {
        audio.start(buffer, 0);
    } else {
        audio.pending = {buffer: buffer, requested: performance.now()};
    }
});
// clang-format on

} // namespace

void webAudioAllowed() {
    prepareAudio();
    allowAudio();
}

void platformPlaySound(const char* path) {
    prepareAudio();
    stopSound();
    DecodedWave wave;
    if (loadWave(path, &wave) && wave.frames > 0) {
        playSamples(wave.samples, wave.channels, wave.frames, wave.rate);
    }
    freeDecodedWave(&wave);
}
