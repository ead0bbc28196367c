"""Prints a MIDI file as mido reads it: one line per event, absolute ticks."""
import sys

import mido

f = mido.MidiFile(sys.argv[1])
print(f"type {f.type} tracks {len(f.tracks)} tpq {f.ticks_per_beat}")
tick = 0
for msg in f.tracks[0]:
    tick += msg.time
    if msg.type == "set_tempo":
        print(f"{tick} tempo {msg.tempo}")
    elif msg.type == "note_on":
        print(f"{tick} note {msg.channel + 1} {msg.note} {msg.velocity}")
    elif msg.type == "end_of_track":
        print(f"{tick} end")
    else:
        print(f"{tick} {msg.type}")
