<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>OVMainView</name>
    <message numerus="yes">
        <source>Imported %n file(s) onto tracks of their own</source>
        <translation>
            <numerusform>Imported %n file onto tracks of their own</numerusform>
            <numerusform>Imported %n files onto tracks of their own</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>MIDI file imported (%n track(s))</source>
        <translation>
            <numerusform>MIDI file imported (%n track)</numerusform>
            <numerusform>MIDI file imported (%n tracks)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Added %n file(s) to the track</source>
        <translation>
            <numerusform>Added %n file to the track</numerusform>
            <numerusform>Added %n files to the track</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>A recording of this project was cut short. Recover %n take(s) and place them where they were recorded?</source>
        <translation>
            <numerusform>A recording of this project was cut short. Recover %n take and place it where it was recorded?</numerusform>
            <numerusform>A recording of this project was cut short. Recover %n takes and place them where they were recorded?</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n take(s) recovered</source>
        <translation>
            <numerusform>%n take recovered</numerusform>
            <numerusform>%n takes recovered</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>RecordingWorkflow</name>
    <message numerus="yes">
        <source>Recording saved: %1 (+%n track(s))</source>
        <translation>
            <numerusform>Recording saved: %1 (+%n track)</numerusform>
            <numerusform>Recording saved: %1 (+%n tracks)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Inputs for %n pair(s) not opened: %1</source>
        <translation>
            <numerusform>Inputs for %n pair not opened: %1</numerusform>
            <numerusform>Inputs for %n pairs not opened: %1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>MIDI recording saved: %n note(s)</source>
        <translation>
            <numerusform>MIDI recording saved: %n note</numerusform>
            <numerusform>MIDI recording saved: %n notes</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Count-in of %n bar(s)…</source>
        <translation>
            <numerusform>Count-in of %n bar…</numerusform>
            <numerusform>Count-in of %n bars…</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n note(s)</source>
        <translation>
            <numerusform>%n note</numerusform>
            <numerusform>%n notes</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>orvane::TimelineView</name>
    <message numerus="yes">
        <source>Copied %n clip(s)</source>
        <translation>
            <numerusform>Copied %n clip</numerusform>
            <numerusform>Copied %n clips</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1%n semitone(s)</source>
        <translation>
            <numerusform>%1%n semitone</numerusform>
            <numerusform>%1%n semitones</numerusform>
        </translation>
    </message>
</context>
</TS>
