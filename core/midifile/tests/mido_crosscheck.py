#!/usr/bin/python3
"""Test-only: reads and writes Standard MIDI Files with mido, an independent library.

  mido_crosscheck.py read FILE    prints every note of FILE
  mido_crosscheck.py write FILE   writes a file of its own to FILE and prints its notes

A note is printed as "track channel pitch velocity start length" (ticks), in track order and
by start, then pitch; tempo changes as "tempo tick microseconds".
"""
import sys

import mido


def notes_of(midi):
    lines = []
    for number, track in enumerate(midi.tracks):
        tick = 0
        sounding = {}
        found = []
        for message in track:
            tick += message.time
            if message.type == 'set_tempo':
                lines.append(f"tempo {tick} {message.tempo}")
            elif message.type == 'note_on' and message.velocity > 0:
                sounding.setdefault((message.channel, message.note), []).append(
                    (tick, message.velocity))
            elif message.type in ('note_on', 'note_off'):
                started = sounding.get((message.channel, message.note))
                if started:
                    start, velocity = started.pop(0)
                    found.append((start, message.note, message.channel, velocity, tick - start))
        for (channel, pitch), rest in sounding.items():
            for start, velocity in rest:
                found.append((start, pitch, channel, velocity, tick - start))
        for start, pitch, channel, velocity, length in sorted(found, key=lambda n: (n[0], n[1])):
            lines.append(f"{number} {channel} {pitch} {velocity} {start} {length}")
    return lines


def write_own(path):
    midi = mido.MidiFile(type=1, ticks_per_beat=384)
    conductor = mido.MidiTrack()
    conductor.append(mido.MetaMessage('set_tempo', tempo=600000, time=0))
    conductor.append(mido.MetaMessage('time_signature', numerator=6, denominator=8, time=0))
    conductor.append(mido.MetaMessage('set_tempo', tempo=450000, time=1536))
    midi.tracks.append(conductor)
    lead = mido.MidiTrack()
    lead.append(mido.MetaMessage('track_name', name='Lead', time=0))
    lead.append(mido.Message('sysex', data=[0x7E, 0x7F, 0x09, 0x01], time=0))
    lead.append(mido.Message('program_change', channel=2, program=5, time=0))
    lead.append(mido.Message('note_on', channel=2, note=60, velocity=100, time=0))
    lead.append(mido.Message('note_on', channel=2, note=64, velocity=90, time=0))
    lead.append(mido.Message('control_change', channel=2, control=64, value=127, time=96))
    lead.append(mido.Message('note_off', channel=2, note=60, velocity=0, time=96))
    lead.append(mido.Message('pitchwheel', channel=2, pitch=1000, time=0))
    lead.append(mido.Message('note_on', channel=2, note=64, velocity=0, time=192))
    lead.append(mido.Message('note_on', channel=2, note=67, velocity=127, time=1000))
    lead.append(mido.Message('note_off', channel=2, note=67, velocity=0, time=384))
    midi.tracks.append(lead)
    drums = mido.MidiTrack()
    for step in range(16):
        drums.append(mido.Message('note_on', channel=9, note=36 + step % 3, velocity=20 + step,
                                  time=0 if step == 0 else 48))
        drums.append(mido.Message('note_off', channel=9, note=36 + step % 3, time=48))
    midi.tracks.append(drums)
    midi.save(path)
    return notes_of(mido.MidiFile(path))


def main():
    mode, path = sys.argv[1], sys.argv[2]
    lines = notes_of(mido.MidiFile(path)) if mode == 'read' else write_own(path)
    print('\n'.join(lines))


if __name__ == '__main__':
    main()
