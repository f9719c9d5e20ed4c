#!/usr/bin/env python3
"""Writes a tiny Whisper model in whisper.cpp's ggml file format.

The weights are seeded random numbers, except that the decoder's last layer
norm puts out one fixed vector whatever it hears, so the logits are the same at
every step and the decoding is known in advance: whisper.cpp detects German and,
for audio of 2.70 s to 2.80 s, produces one segment from 0.50 s to 2.70 s whose
text is token 1000 (" w1000"), in three decoding steps. Whisper.cpp loads and
runs the model exactly as a real one. Only the standard library is used, so any
python3 runs it.

    make_tiny_whisper_model.py OUTPUT [--blank-vocab] [--english-only] [--seed N]
                               [--state N --heads N --layers N] [--segment-end S]

--blank-vocab makes every text token white space, so that segment is blank.
--english-only writes the vocabulary of an English-only model (one token
fewer, no language tokens): whisper.cpp then ignores the language it is given
and reports "en", and decodes the same segment.
--state, --heads and --layers shape a bigger model of the same kind, and
--segment-end moves the segment's end (1.02 s to 30 s, rounded to 0.02 s), so
that the decoding also ends in three steps on longer audio: for benchmarks, for
example 384, 6, 4 and 29.90 for 30 s. The tests use the default shape.
"""

import argparse
import math
import os
import random
import struct

GGML_FILE_MAGIC = 0x67676D6C
FTYPE_F16 = 1  # f16 matrices and convolutions; f32 convolutions abort in im2col
TYPE_F32, TYPE_F16 = 0, 1

N_AUDIO_CTX = 1500  # 30 s of mel frames after the stride-2 convolution
N_TEXT_CTX = 448
N_STATE = 64  # defaults of the shape options
N_HEAD = 2
N_LAYER = 1
N_MELS = 80
N_FFT_BINS = 201  # 400-point FFT
SAMPLE_RATE = 16000
BLANK_TOKEN_ID = 220  # " ": whisper.cpp looks it up by text for suppress_blank
LANG_DE = 2  # whisper.cpp's language id of "de"


class Vocabulary:
    """Sizes and special token ids; text tokens are the ids below `eot`."""

    def __init__(self, english_only):
        # whisper.cpp takes a vocabulary of 51865 tokens or more as
        # multilingual: 99 language tokens after the start of transcript.
        self.n_vocab = 51864 if english_only else 51865
        self.eot = 50256 if english_only else 50257
        self.sot = self.eot + 1
        self.beg = 50363 if english_only else 50364  # timestamp 0.00 s; each further id is 20 ms later
        self.language_de = None if english_only else self.sot + 1 + LANG_DE


SEGMENT_END = 2.70  # default of --segment-end

# The fixed logits. Step 1: only timestamps up to 1 s may start, and they
# outweigh text: 0.50 s. Step 2: timestamps must pair up, so the best text
# token wins over the end of text. Step 3: the timestamps outweigh text again;
# the segment's end (2.70 s) is within 100 ms of the end of the audio, which
# ends the decoding.
LOGIT_OTHER = -10.0


def fixed_logits(vocab, segment_end):
    logits = {
        vocab.beg + 25: 12.0,
        vocab.beg + round(segment_end / 0.02): 13.0,
        1000: 10.0,
        vocab.eot: 9.0,
    }
    if vocab.language_de is not None:
        logits[vocab.language_de] = 5.0
    return logits


def mel_filters():
    """Triangular filters evenly spaced on the mel scale, 0 Hz to 8 kHz."""
    def to_mel(hz):
        return 2595.0 * math.log10(1.0 + hz / 700.0)

    def to_hz(mel):
        return 700.0 * (10.0 ** (mel / 2595.0) - 1.0)

    top = to_mel(SAMPLE_RATE / 2)
    edges = [to_hz(top * i / (N_MELS + 1)) for i in range(N_MELS + 2)]
    bin_hz = [SAMPLE_RATE / 2 * k / (N_FFT_BINS - 1) for k in range(N_FFT_BINS)]
    values = []
    for m in range(N_MELS):
        lo, mid, hi = edges[m], edges[m + 1], edges[m + 2]
        for hz in bin_hz:
            rising = (hz - lo) / (mid - lo)
            falling = (hi - hz) / (hi - mid)
            values.append(max(0.0, min(rising, falling)) * 2.0 / (hi - lo))
    return values


def text_tokens(vocab, blank):
    tokens = []
    for i in range(vocab.eot):
        if i == BLANK_TOKEN_ID:
            tokens.append(b" ")
        elif blank:
            tokens.append(b" " * (1 + i % 3) if i % 2 else b"\t")
        else:
            tokens.append(b" w%d" % i)
    return tokens


def tensor_specs(vocab, state, layers):
    """(name, ggml type, ne) for every tensor whisper.cpp expects, ne innermost first."""
    s, f32, f16 = state, TYPE_F32, TYPE_F16

    def attention(prefix):
        return [
            (prefix + ".query.weight", f16, [s, s]),
            (prefix + ".query.bias", f32, [s]),
            (prefix + ".key.weight", f16, [s, s]),
            (prefix + ".value.weight", f16, [s, s]),
            (prefix + ".value.bias", f32, [s]),
            (prefix + ".out.weight", f16, [s, s]),
            (prefix + ".out.bias", f32, [s]),
        ]

    def block(prefix, cross):
        specs = [
            (prefix + ".mlp_ln.weight", f32, [s]),
            (prefix + ".mlp_ln.bias", f32, [s]),
            (prefix + ".mlp.0.weight", f16, [s, 4 * s]),
            (prefix + ".mlp.0.bias", f32, [4 * s]),
            (prefix + ".mlp.2.weight", f16, [4 * s, s]),
            (prefix + ".mlp.2.bias", f32, [s]),
            (prefix + ".attn_ln.weight", f32, [s]),
            (prefix + ".attn_ln.bias", f32, [s]),
        ] + attention(prefix + ".attn")
        if cross:
            specs += [
                (prefix + ".cross_attn_ln.weight", f32, [s]),
                (prefix + ".cross_attn_ln.bias", f32, [s]),
            ] + attention(prefix + ".cross_attn")
        return specs

    specs = [
        ("encoder.positional_embedding", f32, [s, N_AUDIO_CTX]),
        ("encoder.conv1.weight", f16, [3, N_MELS, s]),
        ("encoder.conv1.bias", f32, [1, s]),
        ("encoder.conv2.weight", f16, [3, s, s]),
        ("encoder.conv2.bias", f32, [1, s]),
        ("encoder.ln_post.weight", f32, [s]),
        ("encoder.ln_post.bias", f32, [s]),
    ]
    for layer in range(layers):
        specs += block("encoder.blocks.%d" % layer, cross=False)
    specs += [
        ("decoder.positional_embedding", f32, [s, N_TEXT_CTX]),
        ("decoder.token_embedding.weight", f16, [s, vocab.n_vocab]),
        ("decoder.ln.weight", f32, [s]),
        ("decoder.ln.bias", f32, [s]),
    ]
    for layer in range(layers):
        specs += block("decoder.blocks.%d" % layer, cross=True)
    return specs


def tensor_values(name, count, vocab, state, logits, rng):
    # The decoder's last norm ignores its input: weight 0, bias the unit
    # vector e0, so each token's logit is the first value of its embedding.
    if name == "decoder.ln.weight":
        return [0.0] * count
    if name == "decoder.ln.bias":
        return [1.0] + [0.0] * (count - 1)
    # Other layer norms start as identity, like a freshly initialised network.
    if name.endswith(("ln.weight", "ln_post.weight")):
        return [1.0] * count
    if name.endswith(".bias"):
        return [0.0] * count
    uniform = rng.random
    values = [(uniform() - 0.5) * 0.2 for _ in range(count)]
    if name == "decoder.token_embedding.weight":
        for token in range(vocab.n_vocab):
            values[token * state] = logits.get(token, LOGIT_OTHER)
    return values


def write_model(path, blank, english_only, seed, state, heads, layers, segment_end):
    rng = random.Random(seed)
    vocab = Vocabulary(english_only)
    logits = fixed_logits(vocab, segment_end)
    with open(path, "wb") as out:
        hparams = [vocab.n_vocab, N_AUDIO_CTX, state, heads, layers, N_TEXT_CTX, state, heads, layers, N_MELS,
                   FTYPE_F16]
        out.write(struct.pack("<I11i", GGML_FILE_MAGIC, *hparams))

        filters = mel_filters()
        out.write(struct.pack("<2i", N_MELS, N_FFT_BINS))
        out.write(struct.pack("<%df" % len(filters), *filters))

        tokens = text_tokens(vocab, blank)
        out.write(struct.pack("<i", len(tokens)))
        for token in tokens:
            out.write(struct.pack("<I", len(token)) + token)

        for name, ggml_type, ne in tensor_specs(vocab, state, layers):
            count = math.prod(ne)
            encoded = name.encode()
            out.write(struct.pack("<3i", len(ne), len(encoded), ggml_type))
            out.write(struct.pack("<%di" % len(ne), *ne))
            out.write(encoded)
            code = "f" if ggml_type == TYPE_F32 else "e"
            out.write(struct.pack("<%d%s" % (count, code), *tensor_values(name, count, vocab, state, logits, rng)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--blank-vocab", action="store_true")
    parser.add_argument("--english-only", action="store_true")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--state", type=int, default=N_STATE)
    parser.add_argument("--heads", type=int, default=N_HEAD)
    parser.add_argument("--layers", type=int, default=N_LAYER)
    parser.add_argument("--segment-end", type=float, default=SEGMENT_END)
    args = parser.parse_args()
    if args.state % args.heads:
        parser.error("--state must be a multiple of --heads")
    if not 1.02 <= args.segment_end <= 30.0:
        parser.error("--segment-end must lie between 1.02 and 30 seconds")
    # Write beside the target and rename, so a reader never sees half a model.
    partial = "%s.%d.partial" % (args.output, os.getpid())
    write_model(partial, args.blank_vocab, args.english_only, args.seed, args.state, args.heads, args.layers,
                args.segment_end)
    os.replace(partial, args.output)


if __name__ == "__main__":
    main()
