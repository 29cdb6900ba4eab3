<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>AudioDeviceEngine</name>
    <message>
        <source>The input device is unavailable</source>
        <translation>Устройство ввода недоступно</translation>
    </message>
    <message>
        <source>Already recording</source>
        <translation>Запись уже идёт</translation>
    </message>
    <message>
        <source>Recording: %1 input frames lost</source>
        <translation>Запись: потеряно кадров входа: %1</translation>
    </message>
</context>
<context>
    <name>AudioExport</name>
    <message>
        <source>WAV is written with 16, 24 or 32 (float) bits, not %1</source>
        <translation>WAV записывается с разрядностью 16, 24 или 32 (float) бита, а не %1</translation>
    </message>
    <message>
        <source>FLAC is written with 16 or 24 bits, not %1</source>
        <translation>FLAC записывается с разрядностью 16 или 24 бита, а не %1</translation>
    </message>
    <message>
        <source>the export rate must be 44100, 48000, 88200 or 96000 Hz</source>
        <translation>частота экспорта должна быть 44100, 48000, 88200 или 96000 Hz</translation>
    </message>
    <message>
        <source>MP3 is written at 32000, 44100 or 48000 Hz, not %1</source>
        <translation>MP3 записывается с частотой 32000, 44100 или 48000 Hz, а не %1</translation>
    </message>
    <message>
        <source>the quality of %1 runs from 0 to 1</source>
        <translation>качество %1 задаётся от 0 до 1</translation>
    </message>
</context>
<context>
    <name>AutomationWriter</name>
    <message>
        <source>Automation: Volume · Shift point · Alt+Shift clip</source>
        <translation>Automation: Volume · ⇧ точка · ⌥⇧ клип</translation>
    </message>
    <message>
        <source>Automation: Pan · Shift point · Alt+Shift clip</source>
        <translation>Automation: Pan · ⇧ точка · ⌥⇧ клип</translation>
    </message>
    <message>
        <source>Automation: Mute · Shift point · Alt+Shift clip</source>
        <translation>Automation: Mute · ⇧ точка · ⌥⇧ клип</translation>
    </message>
    <message>
        <source>Automation: Plugin param · Shift point · Alt+Shift clip</source>
        <translation>Automation: Plugin param · ⇧ точка · ⌥⇧ клип</translation>
    </message>
    <message>
        <source>Automation off</source>
        <translation>Automation выкл</translation>
    </message>
    <message>
        <source>Automation: %1</source>
        <translation>Automation: %1</translation>
    </message>
    <message>
        <source>Automation: %1 · Shift point · Alt+Shift clip</source>
        <translation>Автоматизация: %1 · Shift — точка · Alt+Shift — клип</translation>
    </message>
</context>
<context>
    <name>Command</name>
    <message>
        <source>Punch</source>
        <translation>Punch</translation>
    </message>
    <message>
        <source>Meter</source>
        <translation>Размер такта</translation>
    </message>
    <message>
        <source>Count-in</source>
        <translation>Отсчёт</translation>
    </message>
    <message>
        <source>Punch In</source>
        <translation>Начало punch</translation>
    </message>
    <message>
        <source>Punch Out</source>
        <translation>Конец punch</translation>
    </message>
    <message>
        <source>Swing</source>
        <translation>Свинг</translation>
    </message>
    <message>
        <source>Groove</source>
        <translation>Грув</translation>
    </message>
    <message>
        <source>Smart Tempo</source>
        <translation>Smart Tempo</translation>
    </message>
    <message>
        <source>Move MIDI Notes</source>
        <translation>Переместить ноты</translation>
    </message>
    <message>
        <source>Delete MIDI Notes</source>
        <translation>Удалить ноты</translation>
    </message>
    <message>
        <source>Velocity</source>
        <translation>Velocity</translation>
    </message>
    <message>
        <source>Apply Groove</source>
        <translation>Применить грув</translation>
    </message>
    <message>
        <source>Channel EQ</source>
        <translation>Эквалайзер канала</translation>
    </message>
    <message>
        <source>Mastering</source>
        <translation>Мастеринг</translation>
    </message>
    <message>
        <source>Add Insert</source>
        <translation>Добавить insert</translation>
    </message>
    <message>
        <source>Remove Insert</source>
        <translation>Удалить insert</translation>
    </message>
    <message>
        <source>Move Insert</source>
        <translation>Переместить insert</translation>
    </message>
    <message>
        <source>Delete Clips</source>
        <translation>Удалить клипы</translation>
    </message>
    <message>
        <source>Duplicate Clips</source>
        <translation>Дублировать клипы</translation>
    </message>
    <message>
        <source>Loop Clips</source>
        <translation>Зациклить клипы</translation>
    </message>
    <message>
        <source>Rename Marker</source>
        <translation>Переименовать метку</translation>
    </message>
    <message>
        <source>Move Marker</source>
        <translation>Переместить метку</translation>
    </message>
    <message>
        <source>Move Clips</source>
        <translation>Переместить клипы</translation>
    </message>
    <message>
        <source>Automation</source>
        <translation>Автоматизация</translation>
    </message>
    <message>
        <source>Normalize Audio</source>
        <translation>Нормализовать аудио</translation>
    </message>
    <message>
        <source>Reverse Audio</source>
        <translation>Развернуть аудио</translation>
    </message>
    <message>
        <source>Invert Phase</source>
        <translation>Инвертировать фазу</translation>
    </message>
    <message>
        <source>Trim Silence</source>
        <translation>Обрезать тишину</translation>
    </message>
    <message>
        <source>Pitch Shift</source>
        <translation>Сдвиг высоты</translation>
    </message>
    <message>
        <source>Pitch Correct</source>
        <translation>Коррекция высоты</translation>
    </message>
    <message>
        <source>Align Onset</source>
        <translation>Выровнять атаку</translation>
    </message>
    <message>
        <source>Snap Onset</source>
        <translation>Атака к playhead</translation>
    </message>
    <message>
        <source>Split Stems</source>
        <translation>Разделить на стемы</translation>
    </message>
    <message>
        <source>Slice At Transients</source>
        <translation>Нарезать по транзиентам</translation>
    </message>
    <message>
        <source>Bounce In Place</source>
        <translation>Bounce на месте</translation>
    </message>
    <message>
        <source>Freeze Track</source>
        <translation>Заморозить дорожку</translation>
    </message>
    <message>
        <source>Toggle Freeze</source>
        <translation>Заморозка вкл/выкл</translation>
    </message>
    <message>
        <source>Flashback Capture</source>
        <translation>Захват Flashback</translation>
    </message>
    <message>
        <source>Move Automation</source>
        <translation>Переместить точку автоматизации</translation>
    </message>
    <message>
        <source>Delete Automation</source>
        <translation>Удалить точку автоматизации</translation>
    </message>
    <message>
        <source>Automation Clip</source>
        <translation>Клип автоматизации</translation>
    </message>
    <message>
        <source>Split Clip</source>
        <translation>Разделить клип</translation>
    </message>
    <message>
        <source>Move Clip</source>
        <translation>Переместить клип</translation>
    </message>
    <message>
        <source>Trim Clip</source>
        <translation>Обрезать клип</translation>
    </message>
    <message>
        <source>Duplicate Clip</source>
        <translation>Дублировать клип</translation>
    </message>
    <message>
        <source>Glue Clips</source>
        <translation>Склеить клипы</translation>
    </message>
    <message>
        <source>Crossfade Clips</source>
        <translation>Кроссфейд клипов</translation>
    </message>
    <message>
        <source>Delete Clip</source>
        <translation>Удалить клип</translation>
    </message>
    <message>
        <source>Paste Clips</source>
        <translation>Вставить клипы</translation>
    </message>
    <message>
        <source>Clip Gain</source>
        <translation>Громкость клипа</translation>
    </message>
    <message>
        <source>Clip Fades</source>
        <translation>Фейды клипа</translation>
    </message>
    <message>
        <source>Toggle Clip Loop</source>
        <translation>Цикл клипа вкл/выкл</translation>
    </message>
    <message>
        <source>Extract Groove</source>
        <translation>Извлечь грув</translation>
    </message>
    <message>
        <source>Active Groove</source>
        <translation>Активный грув</translation>
    </message>
    <message>
        <source>Import Audio</source>
        <translation>Импорт аудио</translation>
    </message>
    <message>
        <source>Import MIDI File</source>
        <translation>Импорт MIDI-файла</translation>
    </message>
    <message>
        <source>Add Marker</source>
        <translation>Добавить метку</translation>
    </message>
    <message>
        <source>Remove Marker</source>
        <translation>Удалить метку</translation>
    </message>
    <message>
        <source>Tempo Marker</source>
        <translation>Метка темпа</translation>
    </message>
    <message>
        <source>Move Tempo</source>
        <translation>Переместить метку темпа</translation>
    </message>
    <message>
        <source>Meter Marker</source>
        <translation>Метка размера</translation>
    </message>
    <message>
        <source>Move Meter</source>
        <translation>Переместить метку размера</translation>
    </message>
    <message>
        <source>Chord Marker</source>
        <translation>Метка аккорда</translation>
    </message>
    <message>
        <source>Move Chord</source>
        <translation>Переместить метку аккорда</translation>
    </message>
    <message>
        <source>Beat Markers</source>
        <translation>Метки долей</translation>
    </message>
    <message>
        <source>Move Beat Marker</source>
        <translation>Переместить метку доли</translation>
    </message>
    <message>
        <source>Warp Marker</source>
        <translation>Warp-метка</translation>
    </message>
    <message>
        <source>Move Warp</source>
        <translation>Переместить warp-метку</translation>
    </message>
    <message>
        <source>Remove Warp</source>
        <translation>Удалить warp-метку</translation>
    </message>
    <message>
        <source>Mixer</source>
        <translation>Микшер</translation>
    </message>
    <message>
        <source>Send Level</source>
        <translation>Уровень посыла</translation>
    </message>
    <message>
        <source>Macro</source>
        <translation>Макро</translation>
    </message>
    <message>
        <source>Bypass FX</source>
        <translation>Обход эффекта</translation>
    </message>
    <message>
        <source>Effect Settings</source>
        <translation>Настройки эффекта</translation>
    </message>
    <message>
        <source>Control Room</source>
        <translation>Control Room</translation>
    </message>
    <message>
        <source>Low Latency Mode</source>
        <translation>Режим низкой задержки</translation>
    </message>
    <message>
        <source>Add MIDI Note</source>
        <translation>Добавить ноту</translation>
    </message>
    <message>
        <source>Move MIDI Note</source>
        <translation>Переместить ноту</translation>
    </message>
    <message>
        <source>Drum Step</source>
        <translation>Шаг ударных</translation>
    </message>
    <message>
        <source>Drum Velocity</source>
        <translation>Velocity ударных</translation>
    </message>
    <message>
        <source>Paste MIDI</source>
        <translation>Вставить ноты</translation>
    </message>
    <message>
        <source>MPE</source>
        <translation>MPE</translation>
    </message>
    <message>
        <source>Expression Map</source>
        <translation>Карта артикуляций</translation>
    </message>
    <message>
        <source>Quantize</source>
        <translation>Квантизовать</translation>
    </message>
    <message>
        <source>Iterative Quantize</source>
        <translation>Итеративная квантизация</translation>
    </message>
    <message>
        <source>Humanize MIDI</source>
        <translation>Хьюманизация MIDI</translation>
    </message>
    <message>
        <source>Transpose</source>
        <translation>Транспонировать</translation>
    </message>
    <message>
        <source>Scale MIDI Duration</source>
        <translation>Масштаб длительностей</translation>
    </message>
    <message>
        <source>Reverse MIDI</source>
        <translation>Развернуть MIDI</translation>
    </message>
    <message>
        <source>MIDI Legato</source>
        <translation>Легато MIDI</translation>
    </message>
    <message>
        <source>Arpeggiate MIDI</source>
        <translation>Арпеджио MIDI</translation>
    </message>
    <message>
        <source>Generate MIDI</source>
        <translation>Сгенерировать MIDI</translation>
    </message>
    <message>
        <source>Euclidean Fill</source>
        <translation>Евклидово заполнение</translation>
    </message>
    <message>
        <source>Pitch Quantize</source>
        <translation>Квантизация высоты</translation>
    </message>
    <message>
        <source>Apply Tuning</source>
        <translation>Применить строй</translation>
    </message>
    <message>
        <source>Pitch Bend</source>
        <translation>Pitch Bend</translation>
    </message>
    <message>
        <source>Delete MIDI Note</source>
        <translation>Удалить ноту</translation>
    </message>
    <message>
        <source>Insert Scene</source>
        <translation>Вставить сцену</translation>
    </message>
    <message>
        <source>Delete Scene</source>
        <translation>Удалить сцену</translation>
    </message>
    <message>
        <source>Duplicate Scene</source>
        <translation>Дублировать сцену</translation>
    </message>
    <message>
        <source>Move Scene</source>
        <translation>Переместить сцену</translation>
    </message>
    <message>
        <source>Rename Scene</source>
        <translation>Переименовать сцену</translation>
    </message>
    <message>
        <source>Scene Follow</source>
        <translation>Follow сцены</translation>
    </message>
    <message>
        <source>Scene Tempo/Meter</source>
        <translation>Темп и размер сцены</translation>
    </message>
    <message>
        <source>Follow Action</source>
        <translation>Follow Action</translation>
    </message>
    <message>
        <source>Launch Mode</source>
        <translation>Режим запуска</translation>
    </message>
    <message>
        <source>One Clip At A Time</source>
        <translation>Один клип за раз</translation>
    </message>
    <message>
        <source>Duplicate Session Clip</source>
        <translation>Дублировать клип Session</translation>
    </message>
    <message>
        <source>New MIDI Clip</source>
        <translation>Новый MIDI-клип</translation>
    </message>
    <message>
        <source>Move Session Clip</source>
        <translation>Переместить клип Session</translation>
    </message>
    <message>
        <source>Session Player</source>
        <translation>Плеер Session</translation>
    </message>
    <message>
        <source>Capture Session</source>
        <translation>Захват Session</translation>
    </message>
    <message>
        <source>Capture Snapshot</source>
        <translation>Сохранить снимок</translation>
    </message>
    <message>
        <source>Recall Snapshot</source>
        <translation>Вернуть снимок</translation>
    </message>
    <message>
        <source>Recall Mixer History</source>
        <translation>Вернуть историю микшера</translation>
    </message>
    <message>
        <source>Plugin Tag</source>
        <translation>Тег плагина</translation>
    </message>
    <message>
        <source>Audio Tag</source>
        <translation>Тег аудио</translation>
    </message>
    <message>
        <source>Scala Tuning</source>
        <translation>Строй Scala</translation>
    </message>
    <message>
        <source>Import Scala</source>
        <translation>Импорт Scala</translation>
    </message>
    <message>
        <source>KBM Map</source>
        <translation>Раскладка KBM</translation>
    </message>
    <message>
        <source>Select Take</source>
        <translation>Выбрать дубль</translation>
    </message>
    <message>
        <source>Flatten Comp</source>
        <translation>Свести комп</translation>
    </message>
    <message>
        <source>Add Track</source>
        <translation>Добавить дорожку</translation>
    </message>
    <message>
        <source>Remove Track</source>
        <translation>Удалить дорожку</translation>
    </message>
    <message>
        <source>Move Track</source>
        <translation>Переместить дорожку</translation>
    </message>
    <message>
        <source>Plug-in Parameter</source>
        <translation>Параметр плагина</translation>
    </message>
    <message>
        <source>Tempo</source>
        <translation>Темп</translation>
    </message>
    <message>
        <source>Rename Track</source>
        <translation>Переименовать дорожку</translation>
    </message>
    <message>
        <source>Track Colour</source>
        <translation>Цвет дорожки</translation>
    </message>
    <message>
        <source>Track Input</source>
        <translation>Вход дорожки</translation>
    </message>
    <message>
        <source>Track Monitor</source>
        <translation>Мониторинг дорожки</translation>
    </message>
    <message>
        <source>Arm Track</source>
        <translation>Готовность дорожки к записи</translation>
    </message>
    <message>
        <source>Automation Parameter</source>
        <translation>Параметр автоматизации</translation>
    </message>
    <message>
        <source>Scene Launch Quantisation</source>
        <translation>Квантование запуска сцены</translation>
    </message>
    <message>
        <source>Copy to Session</source>
        <translation>Копировать в сессию</translation>
    </message>
    <message>
        <source>Import to Slot</source>
        <translation>Импорт в слот</translation>
    </message>
    <message>
        <source>Sandbox Grouping</source>
        <translation>Группировка песочницы</translation>
    </message>
    <message>
        <source>Track Instrument</source>
        <translation>Инструмент дорожки</translation>
    </message>
    <message>
        <source>Instrument Preset</source>
        <translation>Пресет инструмента</translation>
    </message>
    <message>
        <source>Instrument Parameter</source>
        <translation>Параметр инструмента</translation>
    </message>
    <message>
        <source>Drum Pad</source>
        <translation>Пэд ударных</translation>
    </message>
    <message>
        <source>Drum Sample</source>
        <translation>Сэмпл ударных</translation>
    </message>
    <message>
        <source>Quantize Notes</source>
        <translation>Квантизация нот</translation>
    </message>
    <message>
        <source>Load Preset</source>
        <translation>Загрузить пресет</translation>
    </message>
    <message>
        <source>Run in Process</source>
        <translation>Запускать в программе</translation>
    </message>
    <message>
        <source>Scene %1</source>
        <translation>Сцена %1</translation>
    </message>
    <message>
        <source>Cut Clips</source>
        <translation>Вырезать клипы</translation>
    </message>
    <message>
        <source>Send A Level</source>
        <translation>Уровень посыла A</translation>
    </message>
    <message>
        <source>Send B Level</source>
        <translation>Уровень посыла B</translation>
    </message>
    <message>
        <source>Send C Level</source>
        <translation>Уровень посыла C</translation>
    </message>
    <message>
        <source>Send D Level</source>
        <translation>Уровень посыла D</translation>
    </message>
    <message>
        <source>Add Velocity Layer</source>
        <translation>Добавление слоя по силе удара</translation>
    </message>
    <message>
        <source>Remove Velocity Layer</source>
        <translation>Удаление слоя по силе удара</translation>
    </message>
    <message>
        <source>MIDI Learn</source>
        <translation>Обучение MIDI</translation>
    </message>
    <message>
        <source>Remove MIDI Mapping</source>
        <translation>Удалить MIDI-привязку</translation>
    </message>
</context>
<context>
    <name>Diagnostics</name>
    <message>
        <source>Logs: %1
Entries in the plug-in compatibility report: %2
Report: %3</source>
        <translation>Журналы: %1
Записей в отчёте о совместимости плагинов: %2
Отчёт: %3</translation>
    </message>
</context>
<context>
    <name>DrumPad</name>
    <message>
        <source>Kick</source>
        <translation>Бочка</translation>
    </message>
    <message>
        <source>Rim</source>
        <translation>Римшот</translation>
    </message>
    <message>
        <source>Snare</source>
        <translation>Малый барабан</translation>
    </message>
    <message>
        <source>Clap</source>
        <translation>Хлопок</translation>
    </message>
    <message>
        <source>Low Tom</source>
        <translation>Низкий том</translation>
    </message>
    <message>
        <source>Closed Hat</source>
        <translation>Закрытый хай-хэт</translation>
    </message>
    <message>
        <source>Mid Tom</source>
        <translation>Средний том</translation>
    </message>
    <message>
        <source>Open Hat</source>
        <translation>Открытый хай-хэт</translation>
    </message>
    <message>
        <source>High Tom</source>
        <translation>Высокий том</translation>
    </message>
    <message>
        <source>Crash</source>
        <translation>Крэш</translation>
    </message>
    <message>
        <source>Ride</source>
        <translation>Райд</translation>
    </message>
</context>
<context>
    <name>JackBackend</name>
    <message>
        <source>JACK is unavailable</source>
        <translation>JACK недоступен</translation>
    </message>
</context>
<context>
    <name>MidiLearnMenu</name>
    <message>
        <source>Volume</source>
        <translation>Громкость</translation>
    </message>
    <message>
        <source>Pan</source>
        <translation>Панорама</translation>
    </message>
    <message>
        <source>Send %1</source>
        <translation>Send %1</translation>
    </message>
    <message>
        <source>Insert %1</source>
        <translation>Вставка %1</translation>
    </message>
    <message>
        <source>%1: parameter %2</source>
        <translation>%1: параметр %2</translation>
    </message>
    <message>
        <source>a removed track</source>
        <translation>удалённая дорожка</translation>
    </message>
    <message>
        <source>“%1” %2</source>
        <translation>«%1» %2</translation>
    </message>
    <message>
        <source>MIDI Learn</source>
        <translation>Обучение MIDI</translation>
    </message>
    <message>
        <source>Forget MIDI Mapping</source>
        <translation>Забыть MIDI-привязку</translation>
    </message>
</context>
<context>
    <name>MidiLearning</name>
    <message>
        <source>MIDI Learn: move a control on the MIDI device for %1 (Esc cancels)</source>
        <translation>Обучение MIDI: поверните регулятор на MIDI-устройстве для %1 (Esc — отмена)</translation>
    </message>
    <message>
        <source>MIDI Learn cancelled</source>
        <translation>Обучение MIDI отменено</translation>
    </message>
    <message>
        <source>MIDI Learn failed: %1</source>
        <translation>Обучение MIDI не удалось: %1</translation>
    </message>
    <message>
        <source>MIDI Learn: %1 moves %2</source>
        <translation>Обучение MIDI: %1 управляет %2</translation>
    </message>
</context>
<context>
    <name>MidiMapping</name>
    <message>
        <source>the track of the control no longer exists</source>
        <translation>дорожки этого регулятора больше нет</translation>
    </message>
    <message>
        <source>MIDI channel %1 does not exist</source>
        <translation>MIDI-канала %1 не существует</translation>
    </message>
    <message>
        <source>only a controller, pitch bend or a key can be learned</source>
        <translation>привязать можно только контроллер, изгиб высоты тона или клавишу</translation>
    </message>
    <message>
        <source>controller or key %1 is not 0 to 127</source>
        <translation>контроллер или клавиша %1 вне диапазона от 0 до 127</translation>
    </message>
    <message>
        <source>the mapping names no track</source>
        <translation>в привязке не указана дорожка</translation>
    </message>
    <message>
        <source>a controller cannot move lane %1</source>
        <translation>контроллер не может управлять дорожкой автоматизации %1</translation>
    </message>
    <message>
        <source>the range of a mapping must be finite numbers</source>
        <translation>диапазон привязки должен состоять из конечных чисел</translation>
    </message>
    <message>
        <source>Pitch bend, ch. %1</source>
        <translation>Изгиб тона, кан. %1</translation>
    </message>
    <message>
        <source>Note %1, ch. %2</source>
        <translation>Нота %1, кан. %2</translation>
    </message>
    <message>
        <source>CC %1, ch. %2</source>
        <translation>CC %1, кан. %2</translation>
    </message>
</context>
<context>
    <name>MixerPanel</name>
    <message>
        <source>Parameters…</source>
        <translation>Параметры…</translation>
    </message>
</context>
<context>
    <name>OVApplication</name>
    <message>
        <source>Audio: %1</source>
        <translation>Аудио: %1</translation>
    </message>
    <message>
        <source>Stop recording before changing devices</source>
        <translation>Остановите запись перед сменой устройств</translation>
    </message>
    <message>
        <source>No audio devices found</source>
        <translation>Не найдены аудиоустройства</translation>
    </message>
    <message>
        <source>Choose the input and output devices</source>
        <translation>Выберите устройства ввода и вывода</translation>
    </message>
    <message>
        <source>Audio error: no device “%1”</source>
        <translation>Ошибка аудио: нет устройства «%1»</translation>
    </message>
    <message>
        <source>Audio error: %1</source>
        <translation>Ошибка аудио: %1</translation>
    </message>
    <message>
        <source>Audio: %1 → %2 · %3 samples · %4 Hz</source>
        <translation>Аудио: %1 → %2 · %3 сэмплов · %4 Hz</translation>
    </message>
    <message>
        <source>Telemetry on (offline-first)</source>
        <translation>Телеметрия включена (offline-first)</translation>
    </message>
    <message>
        <source>Telemetry off</source>
        <translation>Телеметрия выкл</translation>
    </message>
    <message>
        <source>An update check is already under way</source>
        <translation>Проверка обновлений уже идёт</translation>
    </message>
    <message>
        <source>Halvora did not shut down properly. Recover the autosaved copy?</source>
        <translation>Обнаружено аварийное завершение. Восстановить автосохранённую копию?</translation>
    </message>
    <message>
        <source>Halvora did not shut down properly. Recover “%1”?</source>
        <translation>Обнаружено аварийное завершение. Восстановить «%1»?</translation>
    </message>
    <message>
        <source>Recover the project?</source>
        <translation>Восстановить проект?</translation>
    </message>
    <message>
        <source>Recover</source>
        <translation>Восстановить</translation>
    </message>
    <message>
        <source>Start Afresh</source>
        <translation>Начать заново</translation>
    </message>
    <message>
        <source>Autosave failed: %1</source>
        <translation>Автосохранение не удалось: %1</translation>
    </message>
    <message>
        <source>Quit Halvora?</source>
        <translation>Выйти из Halvora?</translation>
    </message>
    <message>
        <source>Don&apos;t Save</source>
        <translation>Не сохранять</translation>
    </message>
    <message>
        <source>A plug-in&apos;s helper stopped and was restarted: %1</source>
        <translation>Вспомогательный процесс плагина остановился и был перезапущен: %1</translation>
    </message>
    <message>
        <source>A plug-in&apos;s helper stopped and could not be restarted: %1</source>
        <translation>Вспомогательный процесс плагина остановился, и перезапустить его не удалось: %1</translation>
    </message>
    <message>
        <source>Plug-in “%1” on track “%2” gave invalid values (NaN or infinity): those blocks play dry</source>
        <translation>Плагин «%1» на дорожке «%2» выдал недопустимые значения (NaN или бесконечность): эти блоки звучат без обработки</translation>
    </message>
    <message>
        <source>The audio device went away</source>
        <translation>Аудиоустройство пропало</translation>
    </message>
    <message>
        <source>Halvora lost its audio device (%1). Nothing of the project is lost. Reconnect now?</source>
        <translation>Halvora потеряла аудиоустройство (%1). Проект не пострадал. Переподключить сейчас?</translation>
    </message>
    <message>
        <source>Reconnect</source>
        <translation>Переподключить</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Позже</translation>
    </message>
</context>
<context>
    <name>OVMainView</name>
    <message>
        <source>Open project?</source>
        <translation>Открыть проект?</translation>
    </message>
    <message>
        <source>Don&apos;t Save</source>
        <translation>Не сохранять</translation>
    </message>
    <message>
        <source>Project saved</source>
        <translation>Проект сохранён</translation>
    </message>
    <message>
        <source>Project saved (media collected into its folder)</source>
        <translation>Проект сохранён (медиа собраны в папку)</translation>
    </message>
    <message>
        <source>Not enough memory</source>
        <translation>Недостаточно памяти</translation>
    </message>
    <message>
        <source>Unsaved changes will be lost.</source>
        <translation>Несохранённые изменения будут потеряны.</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Сохранить</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>New project?</source>
        <translation>Новый проект?</translation>
    </message>
    <message>
        <source>Create</source>
        <translation>Создать</translation>
    </message>
    <message>
        <source>New project</source>
        <translation>Новый проект</translation>
    </message>
    <message>
        <source>Choose a Halvora project (.halvora)</source>
        <translation>Выберите проект Halvora (.halvora)</translation>
    </message>
    <message>
        <source>Opening the project</source>
        <translation>Открытие проекта</translation>
    </message>
    <message>
        <source>Opening cancelled</source>
        <translation>Открытие отменено</translation>
    </message>
    <message>
        <source>Could not open the project</source>
        <translation>Не удалось открыть проект</translation>
    </message>
    <message>
        <source>Could not open the project: %1</source>
        <translation>Не удалось открыть проект: %1</translation>
    </message>
    <message>
        <source>Opened: %1</source>
        <translation>Открыт: %1</translation>
    </message>
    <message>
        <source>Project of %1 opened at the device rate of %2 (positions not converted)</source>
        <translation>Проект %1 открыт на частоте устройства %2 (позиции не пересчитаны)</translation>
    </message>
    <message>
        <source>Autosaving…</source>
        <translation>Автосохранение…</translation>
    </message>
    <message>
        <source>Saving the project…</source>
        <translation>Сохранение проекта…</translation>
    </message>
    <message>
        <source>Error: %1</source>
        <translation>Ошибка: %1</translation>
    </message>
    <message>
        <source>A save is already under way</source>
        <translation>Сохранение уже идёт</translation>
    </message>
    <message>
        <source>New Project.halvora</source>
        <translation>Новый проект.halvora</translation>
    </message>
    <message>
        <source>“%1”</source>
        <translation>«%1»</translation>
    </message>
    <message>
        <source>Error: %1 is a symbolic link; the project was not saved</source>
        <translation>Ошибка: %1 — символическая ссылка; проект не сохранён</translation>
    </message>
    <message>
        <source>Error: %1 is not a folder; the project was not saved</source>
        <translation>Ошибка: %1 — не папка; проект не сохранён</translation>
    </message>
    <message>
        <source>Error: %1 already holds another project; the project was not saved</source>
        <translation>Ошибка: %1 уже содержит другой проект; проект не сохранён</translation>
    </message>
    <message>
        <source>Replace the project?</source>
        <translation>Заменить проект?</translation>
    </message>
    <message>
        <source>The folder %1 already holds another project. Replace it?</source>
        <translation>Папка %1 уже содержит другой проект. Заменить его?</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>Заменить</translation>
    </message>
    <message>
        <source>Recovered: %1</source>
        <translation>Восстановлено: %1</translation>
    </message>
    <message>
        <source>The recovery copy did not open; it is kept at %1</source>
        <translation>Копия восстановления не открылась; она сохранена: %1</translation>
    </message>
    <message>
        <source>Could not read %1 audio file(s); they play as silence:</source>
        <translation>Не удалось прочитать %1 аудиофайл(ов), они звучат как тишина:</translation>
    </message>
    <message>
        <source>Could not load %1 audio file(s). Choose a folder to search, or pick the files by hand.</source>
        <translation>Не удалось загрузить %1 аудиофайл(ов). Укажите папку для поиска или выберите файл вручную.</translation>
    </message>
    <message>
        <source>Media files not found</source>
        <translation>Медиафайлы не найдены</translation>
    </message>
    <message>
        <source>Choose Folder</source>
        <translation>Выбрать папку</translation>
    </message>
    <message>
        <source>Skip</source>
        <translation>Пропустить</translation>
    </message>
    <message>
        <source>Folder with the audio files to relink</source>
        <translation>Папка с аудиофайлами для relink</translation>
    </message>
    <message>
        <source>Files relinked: %1</source>
        <translation>Перепривязано файлов: %1</translation>
    </message>
    <message>
        <source>No files found in the chosen folder</source>
        <translation>Файлы не найдены в выбранной папке</translation>
    </message>
    <message>
        <source>No path to the file</source>
        <translation>Нет пути к файлу</translation>
    </message>
    <message>
        <source>Unsupported format</source>
        <translation>Неподдерживаемый формат</translation>
    </message>
    <message>
        <source>Track not found</source>
        <translation>Дорожка не найдена</translation>
    </message>
    <message>
        <source>Audio cannot be imported onto a MIDI track</source>
        <translation>На MIDI-дорожку нельзя импортировать аудио</translation>
    </message>
    <message>
        <source>Importing audio…</source>
        <translation>Импорт аудио…</translation>
    </message>
    <message>
        <source>Import cancelled</source>
        <translation>Импорт отменён</translation>
    </message>
    <message>
        <source>Import failed</source>
        <translation>Импорт не удался</translation>
    </message>
    <message>
        <source>Imported 1 file onto a new track</source>
        <translation>Импортирован 1 файл на новую дорожку</translation>
    </message>
    <message>
        <source>Could not import the MIDI file: %1</source>
        <translation>Не удалось импортировать MIDI-файл: %1</translation>
    </message>
    <message>
        <source>The MIDI file has no notes</source>
        <translation>В MIDI-файле нет нот</translation>
    </message>
    <message>
        <source>MIDI export failed: %1</source>
        <translation>Экспорт MIDI не удался: %1</translation>
    </message>
    <message>
        <source>MIDI file exported</source>
        <translation>MIDI-файл экспортирован</translation>
    </message>
    <message>
        <source>Could not import the file</source>
        <translation>Не удалось импортировать файл</translation>
    </message>
    <message>
        <source>File added to the track</source>
        <translation>Файл добавлен на дорожку</translation>
    </message>
    <message>
        <source>Exporting WAV…</source>
        <translation>Экспорт WAV…</translation>
    </message>
    <message>
        <source>Exporting stems…</source>
        <translation>Экспорт стемов…</translation>
    </message>
    <message>
        <source>Track “%1” muted: it produced invalid values (NaN or infinity)</source>
        <translation>Дорожка «%1» заглушена: она выдала недопустимые значения (NaN или бесконечность)</translation>
    </message>
    <message>
        <source>Export cancelled</source>
        <translation>Экспорт отменён</translation>
    </message>
    <message>
        <source>Export failed: %1</source>
        <translation>Экспорт не удался: %1</translation>
    </message>
    <message>
        <source>Export failed</source>
        <translation>Экспорт не удался</translation>
    </message>
    <message>
        <source>Turn on the cycle (C) to export the loop</source>
        <translation>Включите cycle (C) для экспорта петли</translation>
    </message>
    <message>
        <source>Invalid loop range</source>
        <translation>Некорректный loop range</translation>
    </message>
    <message>
        <source>Choose a track</source>
        <translation>Выберите дорожку</translation>
    </message>
    <message>
        <source>Track exported (%1 samples)</source>
        <translation>Дорожка экспортирована (%1 сэмплов)</translation>
    </message>
    <message>
        <source>Track export failed</source>
        <translation>Экспорт дорожки не удался</translation>
    </message>
    <message>
        <source>Folder for the stems</source>
        <translation>Папка для стемов</translation>
    </message>
    <message>
        <source>Stems exported (%1 samples)</source>
        <translation>Стемы экспортированы (%1 сэмплов)</translation>
    </message>
    <message>
        <source>Stem export failed</source>
        <translation>Экспорт стемов не удался</translation>
    </message>
    <message>
        <source>Undo: %1</source>
        <translation>Отмена: %1</translation>
    </message>
    <message>
        <source>Redo: %1</source>
        <translation>Повтор: %1</translation>
    </message>
    <message>
        <source>not enough memory to render %1</source>
        <translation>недостаточно памяти для рендера %1</translation>
    </message>
    <message numerus="yes">
        <source>Imported %n file(s) onto tracks of their own</source>
        <translation>
            <numerusform>Импортирован %n файл на отдельные дорожки</numerusform>
            <numerusform>Импортировано %n файла на отдельные дорожки</numerusform>
            <numerusform>Импортировано %n файлов на отдельные дорожки</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>MIDI file imported (%n track(s))</source>
        <translation>
            <numerusform>MIDI-файл импортирован (%n дорожка)</numerusform>
            <numerusform>MIDI-файл импортирован (%n дорожки)</numerusform>
            <numerusform>MIDI-файл импортирован (%n дорожек)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Added %n file(s) to the track</source>
        <translation>
            <numerusform>Добавлен %n файл на дорожку</numerusform>
            <numerusform>Добавлено %n файла на дорожку</numerusform>
            <numerusform>Добавлено %n файлов на дорожку</numerusform>
        </translation>
    </message>
    <message>
        <source>The slot cannot take this file</source>
        <translation>Этот файл нельзя поместить в слот</translation>
    </message>
    <message>
        <source>Imported %1 into the slot</source>
        <translation>%1 импортирован в слот</translation>
    </message>
    <message>
        <source>Plug-ins that could not be loaded: %1</source>
        <translation>Не удалось загрузить плагины: %1</translation>
    </message>
    <message>
        <source>Exported without a plug-in: %1</source>
        <translation>Экспортировано без плагина: %1</translation>
    </message>
    <message>
        <source>the file could not be read as audio (%1)</source>
        <translation>файл не удалось прочитать как звук (%1)</translation>
    </message>
    <message>
        <source>Plug-in files could not be written to %1</source>
        <translation>Не удалось записать файлы плагинов в %1</translation>
    </message>
    <message>
        <source>%2 exported (%1 samples)</source>
        <translation>%2 экспортирован (%1 сэмплов)</translation>
    </message>
    <message>
        <source>Loop %2 (%1 samples)</source>
        <translation>Loop %2 (%1 сэмплов)</translation>
    </message>
    <message>
        <source>its notes reach beyond the end of the timeline</source>
        <translation>его ноты выходят за конец таймлайна</translation>
    </message>
    <message>
        <source>Normalisation wanted %1 dB and was held to %2 dB: the file is quieter than the target</source>
        <translation>Нормализации требовалось %1 дБ, усиление ограничено %2 дБ: файл тише цели</translation>
    </message>
    <message>
        <source>A cut-short take could not be read: %1</source>
        <translation>Прерванный дубль не прочитан: %1</translation>
    </message>
    <message>
        <source>Recover takes?</source>
        <translation>Восстановить дубли?</translation>
    </message>
    <message numerus="yes">
        <source>A recording of this project was cut short. Recover %n take(s) and place them where they were recorded?</source>
        <translation>
            <numerusform>Запись этого проекта прервалась. Восстановить %n дубль и поставить его туда, где он записан?</numerusform>
            <numerusform>Запись этого проекта прервалась. Восстановить %n дубля и поставить их туда, где они записаны?</numerusform>
            <numerusform>Запись этого проекта прервалась. Восстановить %n дублей и поставить их туда, где они записаны?</numerusform>
        </translation>
    </message>
    <message>
        <source>Recover</source>
        <translation>Восстановить</translation>
    </message>
    <message>
        <source>Discard</source>
        <translation>Удалить</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Позже</translation>
    </message>
    <message>
        <source>Cut-short takes discarded</source>
        <translation>Прерванные дубли удалены</translation>
    </message>
    <message>
        <source>The cut-short takes are kept; they are offered again next time</source>
        <translation>Прерванные дубли сохранены; при следующем открытии они будут предложены снова</translation>
    </message>
    <message>
        <source>Importing the MIDI file…</source>
        <translation>Импорт MIDI-файла…</translation>
    </message>
    <message>
        <source>MIDI import cancelled</source>
        <translation>Импорт MIDI отменён</translation>
    </message>
    <message numerus="yes">
        <source>%n take(s) recovered</source>
        <translation>
            <numerusform>Восстановлен %n дубль</numerusform>
            <numerusform>Восстановлено %n дубля</numerusform>
            <numerusform>Восстановлено %n дублей</numerusform>
        </translation>
    </message>
    <message>
        <source>Import Audio: the first file goes onto the selected audio track when it is empty, every other onto a new track</source>
        <translation>Импорт аудио: первый файл ляжет на выбранную аудиодорожку, если она пуста, остальные — на новые дорожки</translation>
    </message>
    <message>
        <source>Imported 1 file onto the selected track “%1”</source>
        <translation>Импортирован 1 файл на выбранную дорожку «%1»</translation>
    </message>
    <message>
        <source>The true-peak ceiling of %1 dBTP held the loudness at %2 LUFS (target %3 LUFS)</source>
        <translation>Потолок истинного пика %1 dBTP удержал громкость на %2 LUFS (цель %3 LUFS)</translation>
    </message>
    <message>
        <source>the file holds no sound</source>
        <translation>в файле нет звука</translation>
    </message>
    <message>
        <source>the file is not recognised as audio, or it is damaged</source>
        <translation>файл не распознан как звук или повреждён</translation>
    </message>
    <message>
        <source>the file&apos;s name cannot be used</source>
        <translation>имя файла непригодно</translation>
    </message>
    <message>
        <source>the file&apos;s sample rate cannot be converted</source>
        <translation>частоту дискретизации файла не удаётся преобразовать</translation>
    </message>
    <message>
        <source>silent</source>
        <translation>тишина</translation>
    </message>
    <message>
        <source>%1 LUFS integrated, true peak %2 dBTP, loudness range %3 LU</source>
        <translation>%1 LUFS интегральная, истинный пик %2 dBTP, диапазон громкости %3 LU</translation>
    </message>
    <message>
        <source> · target %1 LUFS met</source>
        <translation> · цель %1 LUFS достигнута</translation>
    </message>
    <message>
        <source> · target %1 LUFS not met</source>
        <translation> · цель %1 LUFS не достигнута</translation>
    </message>
</context>
<context>
    <name>PluginRack</name>
    <message>
        <source>no path</source>
        <translation>без пути</translation>
    </message>
    <message>
        <source>VST3 unavailable: %1 (%2)</source>
        <translation>VST3 недоступен: %1 (%2)</translation>
    </message>
    <message>
        <source>LV2 unavailable: %1 (%2)</source>
        <translation>LV2 недоступен: %1 (%2)</translation>
    </message>
    <message>
        <source>helper lost while restoring the state: %1</source>
        <translation>помощник потерян при восстановлении состояния: %1</translation>
    </message>
    <message>
        <source>it gave non-finite values (NaN or infinity), played dry instead</source>
        <translation>он выдал недопустимые значения (NaN или бесконечность), звучал без обработки</translation>
    </message>
    <message>
        <source>no URI</source>
        <translation>нет URI</translation>
    </message>
</context>
<context>
    <name>ProjectRender</name>
    <message>
        <source>the render would be %1 frames long, more than a 16-bit WAV file holds</source>
        <translation>рендер длиной %1 кадров не поместится в 16-битный WAV-файл</translation>
    </message>
    <message>
        <source>plug-in “%1” on track “%2” failed: %3</source>
        <translation>плагин «%1» на дорожке «%2» отказал: %3</translation>
    </message>
    <message>
        <source>(restarted; the blocks before went dry)</source>
        <translation>(перезапущен; блоки до этого прозвучали без обработки)</translation>
    </message>
    <message>
        <source>the stem %1 would replace the mix written to the same file</source>
        <translation>стем %1 заменил бы микс, записываемый в тот же файл</translation>
    </message>
</context>
<context>
    <name>Recording</name>
    <message>
        <source>Take %1</source>
        <translation>Запись %1</translation>
    </message>
    <message>
        <source>%1 Take %2</source>
        <translation>%1 Take %2</translation>
    </message>
</context>
<context>
    <name>RecordingWorkflow</name>
    <message>
        <source>Could not start recording</source>
        <translation>Не удалось начать запись</translation>
    </message>
    <message>
        <source>“%1”</source>
        <translation>«%1»</translation>
    </message>
    <message>
        <source>MIDI track added (R records)</source>
        <translation>Добавлена MIDI-дорожка (R — запись)</translation>
    </message>
    <message>
        <source>Empty audio track added (R records)</source>
        <translation>Добавлена пустая аудиодорожка (R — запись)</translation>
    </message>
    <message>
        <source>Count-in cancelled</source>
        <translation>Отсчёт отменён</translation>
    </message>
    <message>
        <source>Recording MIDI…</source>
        <translation>MIDI-запись…</translation>
    </message>
    <message>
        <source>Overdubbing from %1…</source>
        <translation>Запись overdub с %1…</translation>
    </message>
    <message>
        <source>Recording from %1…</source>
        <translation>Запись с %1…</translation>
    </message>
    <message>
        <source>Recording failed: %1</source>
        <translation>Запись не удалась: %1</translation>
    </message>
    <message>
        <source>The recording is empty: check the access to the microphone</source>
        <translation>Запись пуста — проверьте доступ к микрофону</translation>
    </message>
    <message>
        <source>%1 samples</source>
        <translation>%1 сэмплов</translation>
    </message>
    <message>
        <source> (input frames lost: %1, filled with silence)</source>
        <translation> (потеряно кадров входа: %1, заполнены тишиной)</translation>
    </message>
    <message>
        <source>Recording saved: %1</source>
        <translation>Запись сохранена — %1</translation>
    </message>
    <message>
        <source>The MIDI recording is empty</source>
        <translation>MIDI-запись пуста</translation>
    </message>
    <message>
        <source>MIDI recording: no target track</source>
        <translation>MIDI-запись: нет целевой дорожки</translation>
    </message>
    <message>
        <source>Punch on: [ ] set the bounds</source>
        <translation>Punch вкл — [ ] границы</translation>
    </message>
    <message>
        <source>Punch off</source>
        <translation>Punch выкл</translation>
    </message>
    <message>
        <source>Session overdub on: Ctrl+R records into the clip</source>
        <translation>Session overdub вкл — ⌘R записывает в клип</translation>
    </message>
    <message>
        <source>Session overdub off</source>
        <translation>Session overdub выкл</translation>
    </message>
    <message>
        <source>Live Loop on: Ctrl+R records into a Session slot (Ctrl+Shift+R)</source>
        <translation>Live Loop вкл — ⌘R записывает в слот Session (⌃⇧R)</translation>
    </message>
    <message>
        <source>Live Loop off</source>
        <translation>Live Loop выкл</translation>
    </message>
    <message numerus="yes">
        <source>Recording saved: %1 (+%n track(s))</source>
        <translation>
            <numerusform>Запись сохранена — %1 (+%n дорожка)</numerusform>
            <numerusform>Запись сохранена — %1 (+%n дорожки)</numerusform>
            <numerusform>Запись сохранена — %1 (+%n дорожек)</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Inputs for %n pair(s) not opened: %1</source>
        <translation>
            <numerusform>Входы %n пары не открыты: %1</numerusform>
            <numerusform>Входы %n пар не открыты: %1</numerusform>
            <numerusform>Входы %n пар не открыты: %1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>MIDI recording saved: %n note(s)</source>
        <translation>
            <numerusform>MIDI-запись сохранена — %n нота</numerusform>
            <numerusform>MIDI-запись сохранена — %n ноты</numerusform>
            <numerusform>MIDI-запись сохранена — %n нот</numerusform>
        </translation>
    </message>
    <message>
        <source>Session overdub — %1</source>
        <translation>Session overdub — %1</translation>
    </message>
    <message>
        <source>Live Loop R%1 C%2 — %3…</source>
        <translation>Live Loop R%1 C%2 — %3…</translation>
    </message>
    <message>
        <source>Live Loop R%1 C%2 — %3</source>
        <translation>Live Loop R%1 C%2 — %3</translation>
    </message>
    <message numerus="yes">
        <source>Count-in of %n bar(s)…</source>
        <translation>
            <numerusform>Отсчёт: %n такт…</numerusform>
            <numerusform>Отсчёт: %n такта…</numerusform>
            <numerusform>Отсчёт: %n тактов…</numerusform>
        </translation>
    </message>
    <message>
        <source>Recording from %1 and MIDI…</source>
        <translation>Запись с %1 и MIDI…</translation>
    </message>
    <message numerus="yes">
        <source>%n note(s)</source>
        <translation>
            <numerusform>%n нота</numerusform>
            <numerusform>%n ноты</numerusform>
            <numerusform>%n нот</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>RemoteControl</name>
    <message>
        <source>No session manager: %1</source>
        <translation>Нет менеджера сеансов: %1</translation>
    </message>
    <message>
        <source>Remote control off</source>
        <translation>Дистанционное управление выключено</translation>
    </message>
    <message>
        <source>Remote control cannot listen: %1</source>
        <translation>Дистанционное управление не может принимать сообщения: %1</translation>
    </message>
    <message>
        <source>Remote control on port %1 (network)</source>
        <translation>Дистанционное управление на порту %1 (сеть)</translation>
    </message>
    <message>
        <source>Remote control on port %1 (this computer)</source>
        <translation>Дистанционное управление на порту %1 (этот компьютер)</translation>
    </message>
</context>
<context>
    <name>RenderOutput</name>
    <message>
        <source>cannot write %1: it is a folder</source>
        <translation>не удаётся записать %1: это папка</translation>
    </message>
    <message>
        <source>cannot write %1: it is not a regular file (a device or a pipe is never replaced)</source>
        <translation>не удаётся записать %1: это не обычный файл (устройство или канал никогда не заменяются)</translation>
    </message>
    <message>
        <source>cannot write %1: it lies inside the project folder %2 being rendered</source>
        <translation>не удаётся записать %1: файл находится внутри папки проекта %2, который рендерится</translation>
    </message>
    <message>
        <source>cannot write %1: no folder %2</source>
        <translation>не удаётся записать %1: нет папки %2</translation>
    </message>
    <message>
        <source>cannot write %1: the folder %2 is not writable</source>
        <translation>не удаётся записать %1: в папку %2 нельзя писать</translation>
    </message>
    <message>
        <source>no output file was given</source>
        <translation>не указан выходной файл</translation>
    </message>
    <message>
        <source>cannot write into %1: it lies inside the project folder %2 being rendered</source>
        <translation>не удаётся записать в %1: папка находится внутри папки проекта %2, который рендерится</translation>
    </message>
    <message>
        <source>cannot write into %1: it is not a folder</source>
        <translation>не удаётся записать в %1: это не папка</translation>
    </message>
    <message>
        <source>cannot create the folder %1: %2</source>
        <translation>не удаётся создать папку %1: %2</translation>
    </message>
</context>
<context>
    <name>RtAudioBackend</name>
    <message>
        <source>RtAudio is unavailable</source>
        <translation>RtAudio недоступен</translation>
    </message>
    <message>
        <source>Could not choose the output device: %1</source>
        <translation>Не удалось выбрать устройство вывода: %1</translation>
    </message>
</context>
<context>
    <name>SessionPlayer</name>
    <message>
        <source>Drums 4/4</source>
        <translation>Ударные 4/4</translation>
    </message>
    <message>
        <source>Drums Break</source>
        <translation>Брейк ударных</translation>
    </message>
    <message>
        <source>Bass Root</source>
        <translation>Бас по тонике</translation>
    </message>
    <message>
        <source>Chords Pad</source>
        <translation>Аккордовый пэд</translation>
    </message>
    <message>
        <source>Player</source>
        <translation>Плеер</translation>
    </message>
</context>
<context>
    <name>StockEffect</name>
    <message>
        <source>Threshold</source>
        <translation>Порог</translation>
    </message>
    <message>
        <source>Ratio</source>
        <translation>Отношение</translation>
    </message>
    <message>
        <source>Attack</source>
        <translation>Атака</translation>
    </message>
    <message>
        <source>Release</source>
        <translation>Восстановление</translation>
    </message>
    <message>
        <source>Make-up</source>
        <translation>Компенсация</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Время</translation>
    </message>
    <message>
        <source>Feedback</source>
        <translation>Обратная связь</translation>
    </message>
    <message>
        <source>Mix</source>
        <translation>Смесь</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Размер</translation>
    </message>
    <message>
        <source>Low (120 Hz)</source>
        <translation>Низкие (120 Гц)</translation>
    </message>
    <message>
        <source>Mid (1 kHz)</source>
        <translation>Средние (1 кГц)</translation>
    </message>
    <message>
        <source>High (8 kHz)</source>
        <translation>Высокие (8 кГц)</translation>
    </message>
    <message>
        <source>Output</source>
        <translation>Выход</translation>
    </message>
    <message>
        <source>EQ</source>
        <translation>Эквалайзер</translation>
    </message>
    <message>
        <source>Compressor</source>
        <translation>Компрессор</translation>
    </message>
    <message>
        <source>Delay</source>
        <translation>Задержка</translation>
    </message>
    <message>
        <source>Reverb</source>
        <translation>Реверберация</translation>
    </message>
</context>
<context>
    <name>SynthParameter</name>
    <message>
        <source>Osc 1 wave</source>
        <translation>Ген. 1: форма</translation>
    </message>
    <message>
        <source>Osc 1 octave</source>
        <translation>Ген. 1: октава</translation>
    </message>
    <message>
        <source>Osc 1 semitone</source>
        <translation>Ген. 1: полутоны</translation>
    </message>
    <message>
        <source>Osc 1 fine</source>
        <translation>Ген. 1: подстройка</translation>
    </message>
    <message>
        <source>Osc 1 pulse width</source>
        <translation>Ген. 1: ширина импульса</translation>
    </message>
    <message>
        <source>Osc 1 level</source>
        <translation>Ген. 1: уровень</translation>
    </message>
    <message>
        <source>Osc 2 wave</source>
        <translation>Ген. 2: форма</translation>
    </message>
    <message>
        <source>Osc 2 octave</source>
        <translation>Ген. 2: октава</translation>
    </message>
    <message>
        <source>Osc 2 semitone</source>
        <translation>Ген. 2: полутоны</translation>
    </message>
    <message>
        <source>Osc 2 fine</source>
        <translation>Ген. 2: подстройка</translation>
    </message>
    <message>
        <source>Osc 2 pulse width</source>
        <translation>Ген. 2: ширина импульса</translation>
    </message>
    <message>
        <source>Osc 2 level</source>
        <translation>Ген. 2: уровень</translation>
    </message>
    <message>
        <source>Noise level</source>
        <translation>Уровень шума</translation>
    </message>
    <message>
        <source>Filter mode</source>
        <translation>Тип фильтра</translation>
    </message>
    <message>
        <source>Filter slope</source>
        <translation>Крутизна фильтра</translation>
    </message>
    <message>
        <source>Cutoff</source>
        <translation>Частота среза</translation>
    </message>
    <message>
        <source>Resonance</source>
        <translation>Резонанс</translation>
    </message>
    <message>
        <source>Key tracking</source>
        <translation>Следование за нотой</translation>
    </message>
    <message>
        <source>Filter envelope amount</source>
        <translation>Глубина огибающей</translation>
    </message>
    <message>
        <source>Velocity to filter</source>
        <translation>Velocity → фильтр</translation>
    </message>
    <message>
        <source>Filter attack</source>
        <translation>Атака фильтра</translation>
    </message>
    <message>
        <source>Filter decay</source>
        <translation>Спад фильтра</translation>
    </message>
    <message>
        <source>Filter sustain</source>
        <translation>Сустейн фильтра</translation>
    </message>
    <message>
        <source>Filter release</source>
        <translation>Затухание фильтра</translation>
    </message>
    <message>
        <source>Attack</source>
        <translation>Атака</translation>
    </message>
    <message>
        <source>Decay</source>
        <translation>Спад</translation>
    </message>
    <message>
        <source>Sustain</source>
        <translation>Сустейн</translation>
    </message>
    <message>
        <source>Release</source>
        <translation>Затухание</translation>
    </message>
    <message>
        <source>Velocity sensitivity</source>
        <translation>Чувствительность к velocity</translation>
    </message>
    <message>
        <source>LFO wave</source>
        <translation>Форма LFO</translation>
    </message>
    <message>
        <source>LFO rate</source>
        <translation>Частота LFO</translation>
    </message>
    <message>
        <source>LFO to pitch</source>
        <translation>LFO → высота</translation>
    </message>
    <message>
        <source>LFO to cutoff</source>
        <translation>LFO → срез</translation>
    </message>
    <message>
        <source>LFO to amplitude</source>
        <translation>LFO → громкость</translation>
    </message>
    <message>
        <source>Mod wheel to LFO depth</source>
        <translation>Колесо модуляции → LFO</translation>
    </message>
    <message>
        <source>Glide time</source>
        <translation>Время портаменто</translation>
    </message>
    <message>
        <source>Voice mode</source>
        <translation>Режим голосов</translation>
    </message>
    <message>
        <source>Polyphony</source>
        <translation>Полифония</translation>
    </message>
    <message>
        <source>Pitch bend range</source>
        <translation>Диапазон изгиба высоты</translation>
    </message>
    <message>
        <source>Master gain</source>
        <translation>Общее усиление</translation>
    </message>
    <message>
        <source>Sine</source>
        <translation>Синус</translation>
    </message>
    <message>
        <source>Triangle</source>
        <translation>Треугольник</translation>
    </message>
    <message>
        <source>Saw</source>
        <translation>Пила</translation>
    </message>
    <message>
        <source>Pulse</source>
        <translation>Импульс</translation>
    </message>
    <message>
        <source>Square</source>
        <translation>Меандр</translation>
    </message>
    <message>
        <source>Low-pass</source>
        <translation>ФНЧ</translation>
    </message>
    <message>
        <source>High-pass</source>
        <translation>ФВЧ</translation>
    </message>
    <message>
        <source>Band-pass</source>
        <translation>Полосовой</translation>
    </message>
    <message>
        <source>12 dB/oct</source>
        <translation>12 дБ/окт</translation>
    </message>
    <message>
        <source>24 dB/oct</source>
        <translation>24 дБ/окт</translation>
    </message>
    <message>
        <source>Poly</source>
        <translation>Поли</translation>
    </message>
    <message>
        <source>Mono</source>
        <translation>Моно</translation>
    </message>
    <message>
        <source>Legato</source>
        <translation>Легато</translation>
    </message>
    <message>
        <source>oct</source>
        <translation>окт</translation>
    </message>
    <message>
        <source>st</source>
        <translation>пт</translation>
    </message>
    <message>
        <source>ct</source>
        <translation>цент</translation>
    </message>
    <message>
        <source>Hz</source>
        <translation>Гц</translation>
    </message>
    <message>
        <source>kHz</source>
        <translation>кГц</translation>
    </message>
    <message>
        <source>s</source>
        <translation>с</translation>
    </message>
    <message>
        <source>ms</source>
        <translation>мс</translation>
    </message>
    <message>
        <source>dB</source>
        <translation>дБ</translation>
    </message>
    <message>
        <source>%</source>
        <translation>%</translation>
    </message>
</context>
<context>
    <name>SynthPreset</name>
    <message>
        <source>Init</source>
        <translation>Исходный</translation>
    </message>
    <message>
        <source>Bass</source>
        <translation>Бас</translation>
    </message>
    <message>
        <source>Lead</source>
        <translation>Соло</translation>
    </message>
    <message>
        <source>Pad</source>
        <translation>Пэд</translation>
    </message>
    <message>
        <source>Keys</source>
        <translation>Клавиши</translation>
    </message>
    <message>
        <source>Pluck</source>
        <translation>Щипок</translation>
    </message>
</context>
<context>
    <name>TakeRecovery</name>
    <message>
        <source>Recovered take</source>
        <translation>Восстановленный дубль</translation>
    </message>
</context>
<context>
    <name>TempoTools</name>
    <message>
        <source>No audio clip to analyse</source>
        <translation>Нет аудиоклипа для анализа</translation>
    </message>
    <message>
        <source>No tempo detected</source>
        <translation>Темп не определён</translation>
    </message>
    <message>
        <source>Tempo Follow: input (monitor)</source>
        <translation>Tempo Follow: вход (монитор)</translation>
    </message>
    <message>
        <source>Tempo Follow: master (flashback)</source>
        <translation>Tempo Follow: мастер (flashback)</translation>
    </message>
    <message>
        <source>The flashback buffer is empty: start playback</source>
        <translation>Flashback буфер пуст — включите воспроизведение</translation>
    </message>
    <message>
        <source>Flashback unavailable</source>
        <translation>Flashback недоступен</translation>
    </message>
    <message>
        <source>Flashback: %1 samples (%2 s)</source>
        <translation>Flashback: %1 сэмплов (%2 с)</translation>
    </message>
    <message>
        <source>Flashback buffer: %1 s</source>
        <translation>Flashback буфер: %1 с</translation>
    </message>
    <message>
        <source>Adapt: stretch %1x (%2 BPM)</source>
        <translation>Adapt: stretch %1x (%2 BPM)</translation>
    </message>
    <message>
        <source>Automatic: tempo marker %1 BPM</source>
        <translation>Automatic: tempo marker %1 BPM</translation>
    </message>
    <message>
        <source>Keep: %1 BPM</source>
        <translation>Keep: %1 BPM</translation>
    </message>
    <message>
        <source>Tap tempo…</source>
        <translation>Tap tempo…</translation>
    </message>
    <message>
        <source>Tap tempo %1 BPM</source>
        <translation>Tap tempo %1 BPM</translation>
    </message>
    <message>
        <source>Tempo marker: %1 BPM</source>
        <translation>Tempo marker: %1 BPM</translation>
    </message>
    <message>
        <source>Tempo Follow ON (%1 BPM)</source>
        <translation>Tempo Follow ON (%1 BPM)</translation>
    </message>
    <message>
        <source>Tempo Follow OFF</source>
        <translation>Tempo Follow OFF</translation>
    </message>
</context>
<context>
    <name>Track</name>
    <message>
        <source>Audio</source>
        <translation>Аудио</translation>
    </message>
    <message>
        <source>MIDI %1</source>
        <translation>MIDI %1</translation>
    </message>
    <message>
        <source>Audio %1</source>
        <translation>Аудио %1</translation>
    </message>
    <message>
        <source>Return %1</source>
        <translation>Return %1</translation>
    </message>
</context>
<context>
    <name>UpdateCheck</name>
    <message>
        <source>Automatic updates are not set up (HALVORA_UPDATE_URL). Current version: %1</source>
        <translation>Автообновление не настроено (HALVORA_UPDATE_URL). Текущая версия: %1</translation>
    </message>
    <message>
        <source>Invalid HALVORA_UPDATE_URL.</source>
        <translation>Некорректный HALVORA_UPDATE_URL.</translation>
    </message>
    <message>
        <source>Could not check for updates (network).</source>
        <translation>Не удалось проверить обновления (сеть).</translation>
    </message>
    <message>
        <source>Invalid answer from the update server.</source>
        <translation>Некорректный ответ сервера обновлений.</translation>
    </message>
    <message>
        <source>The answer has no version field.</source>
        <translation>Ответ без поля version.</translation>
    </message>
    <message>
        <source>Version %1 is available</source>
        <translation>Доступна версия %1</translation>
    </message>
    <message>
        <source>The installed version %1 is up to date</source>
        <translation>Установлена актуальная версия %1</translation>
    </message>
    <message>
        <source>Halvora is up to date</source>
        <translation>Halvora обновлена</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Доступно обновление</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Скачать</translation>
    </message>
    <message>
        <source>The update server answered with status %1.</source>
        <translation>Сервер обновлений ответил кодом %1.</translation>
    </message>
</context>
<context>
    <name>orvane::ArrangementOverview</name>
    <message>
        <source>The whole song: click or drag to move the arrangement there</source>
        <translation>Вся песня: щёлкните или проведите, чтобы перейти туда в аранжировке</translation>
    </message>
    <message>
        <source>Overview</source>
        <translation>Обзор</translation>
    </message>
</context>
<context>
    <name>orvane::AudioSettingsPanel</name>
    <message>
        <source> ms</source>
        <translation> мс</translation>
    </message>
    <message>
        <source>Audio Settings</source>
        <translation>Настройки аудио</translation>
    </message>
    <message>
        <source>Devices, buffer size and the recording latency calibration (how far recorded clips are shifted on the timeline). Changes apply at once.</source>
        <translation>Устройства, буфер и калибровка задержки записи (сдвиг клипа на таймлайне). Изменения применяются сразу.</translation>
    </message>
    <message>
        <source>Output</source>
        <translation>Вывод</translation>
    </message>
    <message>
        <source>Input</source>
        <translation>Ввод</translation>
    </message>
    <message>
        <source>Buffer</source>
        <translation>Буфер</translation>
    </message>
    <message>
        <source>Input calibration</source>
        <translation>Калибровка ввода</translation>
    </message>
    <message>
        <source>Output calibration</source>
        <translation>Калибровка вывода</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Применить</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>No output devices</source>
        <translation>Нет устройств вывода</translation>
    </message>
    <message>
        <source>No input devices</source>
        <translation>Нет устройств ввода</translation>
    </message>
    <message>
        <source>%1 Hz · output and recording in sync</source>
        <translation>%1 Hz · вывод и запись синхронизированы</translation>
    </message>
    <message>
        <source>Project: %1 Hz · microphone %2 Hz (converted while recording)</source>
        <translation>Проект: %1 Hz · микрофон %2 Hz (конвертация при записи)</translation>
    </message>
    <message>
        <source>input ~%1 ms + output ~%2 ms (buffer %3)</source>
        <translation>ввод ~%1 мс + вывод ~%2 мс (буфер %3)</translation>
    </message>
</context>
<context>
    <name>orvane::ChannelStrip</name>
    <message>
        <source>Pan: centre</source>
        <translation>Панорама: центр</translation>
    </message>
    <message>
        <source>Pan: %1 %2</source>
        <translation>Панорама: %1 %2</translation>
    </message>
    <message>
        <source>Pan</source>
        <translation>Панорама</translation>
    </message>
    <message>
        <source>Mute</source>
        <translation>Заглушение</translation>
    </message>
    <message>
        <source>Solo</source>
        <translation>Соло</translation>
    </message>
    <message>
        <source>Arm for recording</source>
        <translation>Готовность к записи</translation>
    </message>
    <message>
        <source>Send %1: %2</source>
        <translation>Посыл %1: %2</translation>
    </message>
</context>
<context>
    <name>orvane::DrumPadsEditor</name>
    <message>
        <source>Note</source>
        <translation>Нота</translation>
    </message>
    <message>
        <source>Pad</source>
        <translation>Пэд</translation>
    </message>
    <message>
        <source>Gain</source>
        <translation>Усиление</translation>
    </message>
    <message>
        <source>Pan</source>
        <translation>Панорама</translation>
    </message>
    <message>
        <source>Tune</source>
        <translation>Строй</translation>
    </message>
    <message>
        <source>Choke</source>
        <translation>Глушение</translation>
    </message>
    <message>
        <source>Sample</source>
        <translation>Сэмпл</translation>
    </message>
    <message>
        <source>Load Sample</source>
        <translation>Загрузить сэмпл</translation>
    </message>
    <message>
        <source>Audio files (*.wav *.flac);;All files (*)</source>
        <translation>Аудиофайлы (*.wav *.flac);;Все файлы (*)</translation>
    </message>
    <message>
        <source>The MIDI note that strikes the pad</source>
        <translation>MIDI-нота, которая запускает пэд</translation>
    </message>
    <message>
        <source>%1 dB</source>
        <translation>%1 дБ</translation>
    </message>
    <message>
        <source> st</source>
        <translation> пт</translation>
    </message>
    <message>
        <source>Semitones higher or lower than the sample was recorded</source>
        <translation>На сколько полутонов выше или ниже записи звучит сэмпл</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>A pad cuts the other pads of its choke group when it sounds</source>
        <translation>Звучащий пэд глушит остальные пэды своей группы глушения</translation>
    </message>
    <message>
        <source>Load…</source>
        <translation>Загрузить…</translation>
    </message>
    <message>
        <source>Play a WAV or FLAC file on this pad</source>
        <translation>Играть на этом пэде файл WAV или FLAC</translation>
    </message>
    <message>
        <source>C</source>
        <translation>Ц</translation>
    </message>
    <message>
        <source>L %1</source>
        <translation>Л %1</translation>
    </message>
    <message>
        <source>R %1</source>
        <translation>П %1</translation>
    </message>
    <message>
        <source>No sample</source>
        <translation>Нет сэмпла</translation>
    </message>
    <message>
        <source>Synthesised</source>
        <translation>Синтезирован</translation>
    </message>
    <message>
        <source>%1 (%2 velocity layers)</source>
        <translation>%1 (слоёв по силе удара: %2)</translation>
    </message>
    <message>
        <source>The sample was not loaded: %1</source>
        <translation>Сэмпл не загружен: %1</translation>
    </message>
    <message>
        <source>The sample could not be copied into the project&apos;s media folder: %1</source>
        <translation>Не удалось скопировать сэмпл в папку медиафайлов проекта: %1</translation>
    </message>
    <message>
        <source>%1 (missing)</source>
        <translation>%1 (нет файла)</translation>
    </message>
    <message>
        <source>+ Layer…</source>
        <translation>+ Слой…</translation>
    </message>
    <message>
        <source>Add a sample for harder hits: the pad&apos;s velocities are shared evenly between its samples, softest first. Right-click the sample to remove one.</source>
        <translation>Добавить сэмпл для более сильных ударов: диапазон силы удара пэда делится поровну между его сэмплами, от слабых к сильным. Щелчок правой кнопкой по сэмплу убирает слой.</translation>
    </message>
    <message>
        <source>Remove %1 (velocities %2–%3)</source>
        <translation>Убрать %1 (сила удара %2–%3)</translation>
    </message>
</context>
<context>
    <name>orvane::EqCurveView</name>
    <message>
        <source>%1 kHz</source>
        <translation>%1 кГц</translation>
    </message>
    <message>
        <source>%1 Hz</source>
        <translation>%1 Гц</translation>
    </message>
    <message>
        <source>Band %1: %2, %3Q %4</source>
        <translation>Полоса %1: %2, %3Q %4</translation>
    </message>
</context>
<context>
    <name>orvane::GmPlayerEditor</name>
    <message>
        <source>No General MIDI font is installed</source>
        <translation>Шрифт General MIDI не установлен</translation>
    </message>
    <message>
        <source>Sound font:</source>
        <translation>Звуковой шрифт:</translation>
    </message>
    <message>
        <source>Choose…</source>
        <translation>Выбрать…</translation>
    </message>
    <message>
        <source>Play another SoundFont 2 file</source>
        <translation>Играть другим файлом SoundFont 2</translation>
    </message>
    <message>
        <source>Sound:</source>
        <translation>Звук:</translation>
    </message>
    <message>
        <source>The font&apos;s preset the track plays, by bank and program</source>
        <translation>Пресет шрифта, которым играет дорожка, по банку и программе</translation>
    </message>
    <message>
        <source>Drum part (channel 10)</source>
        <translation>Партия ударных (канал 10)</translation>
    </message>
    <message>
        <source>Plays the font&apos;s drum kits, as a General MIDI file&apos;s channel 10</source>
        <translation>Играет наборами ударных шрифта, как канал 10 файла General MIDI</translation>
    </message>
    <message>
        <source>Choose a Sound Font</source>
        <translation>Выбор звукового шрифта</translation>
    </message>
    <message>
        <source>SoundFont 2 files (*.sf2);;All files (*)</source>
        <translation>Файлы SoundFont 2 (*.sf2);;Все файлы (*)</translation>
    </message>
</context>
<context>
    <name>orvane::LongJobRunner</name>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
</context>
<context>
    <name>orvane::MainWindow</name>
    <message>
        <source>WAV 16-bit</source>
        <translation>WAV 16 бит</translation>
    </message>
    <message>
        <source>WAV 24-bit</source>
        <translation>WAV 24 бит</translation>
    </message>
    <message>
        <source>WAV 32-bit float</source>
        <translation>WAV 32 бит (float)</translation>
    </message>
    <message>
        <source>FLAC 16-bit</source>
        <translation>FLAC 16 бит</translation>
    </message>
    <message>
        <source>FLAC 24-bit</source>
        <translation>FLAC 24 бит</translation>
    </message>
    <message>
        <source>Bar</source>
        <translation>Такт</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Выкл</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>Чтение</translation>
    </message>
    <message>
        <source>Touch</source>
        <translation>Касание</translation>
    </message>
    <message>
        <source>Latch</source>
        <translation>Защёлка</translation>
    </message>
    <message>
        <source>Write</source>
        <translation>Запись</translation>
    </message>
    <message>
        <source>Volume</source>
        <translation>Громкость</translation>
    </message>
    <message>
        <source>Pan</source>
        <translation>Панорама</translation>
    </message>
    <message>
        <source>Mute</source>
        <translation>Заглушение</translation>
    </message>
    <message>
        <source>Plug-in parameter</source>
        <translation>Параметр плагина</translation>
    </message>
    <message>
        <source>Timeline Page</source>
        <translation>Страница таймлайна</translation>
    </message>
    <message>
        <source>Session Page</source>
        <translation>Страница Session</translation>
    </message>
    <message>
        <source>Mixer Page</source>
        <translation>Страница микшера</translation>
    </message>
    <message>
        <source>1 bar</source>
        <translation>1 такт</translation>
    </message>
    <message>
        <source>2 bars</source>
        <translation>2 такта</translation>
    </message>
    <message>
        <source>4 bars</source>
        <translation>4 такта</translation>
    </message>
    <message>
        <source>Light</source>
        <translation>Лёгкий</translation>
    </message>
    <message>
        <source>Medium</source>
        <translation>Средний</translation>
    </message>
    <message>
        <source>Strong</source>
        <translation>Сильный</translation>
    </message>
    <message>
        <source>Keep Project</source>
        <translation>Сохранить темп проекта</translation>
    </message>
    <message>
        <source>Adapt Project</source>
        <translation>Подстроить проект</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Автоматически</translation>
    </message>
    <message>
        <source>Browser</source>
        <translation>Браузер</translation>
    </message>
    <message>
        <source>No recent projects</source>
        <translation>Нет недавних проектов</translation>
    </message>
    <message>
        <source>%1[*] — Halvora</source>
        <translation>%1[*] — Halvora</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>Отменить</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>Повторить</translation>
    </message>
    <message>
        <source>
Ctrl+wheel	zoom
Shift+wheel	scroll in time
Shift+drag	move without the grid
Double-click a name	rename</source>
        <translation>
Ctrl+колесо	масштаб
Shift+колесо	прокрутка по времени
Shift+перетаскивание	сдвиг без сетки
Двойной щелчок по имени	переименовать</translation>
    </message>
    <message>
        <source>Keyboard Shortcuts</source>
        <translation>Клавиатурные сокращения</translation>
    </message>
    <message>
        <source>Privacy</source>
        <translation>Конфиденциальность</translation>
    </message>
    <message>
        <source>Telemetry</source>
        <translation>Телеметрия</translation>
    </message>
    <message>
        <source>Crash reports</source>
        <translation>Отчёты о сбоях</translation>
    </message>
    <message>
        <source>DSP %1 % · xruns %2</source>
        <translation>DSP %1 % · срывов: %2</translation>
    </message>
    <message>
        <source>Export Settings</source>
        <translation>Параметры экспорта</translation>
    </message>
    <message>
        <source>Same as project</source>
        <translation>Как в проекте</translation>
    </message>
    <message>
        <source>%1 kHz</source>
        <translation>%1 кГц</translation>
    </message>
    <message>
        <source>TPDF dither (16 and 24 bit)</source>
        <translation>TPDF-дизеринг (16 и 24 бит)</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Peak (dBFS)</source>
        <translation>Пик (dBFS)</translation>
    </message>
    <message>
        <source>True peak (dBTP)</source>
        <translation>True peak (dBTP)</translation>
    </message>
    <message>
        <source>Loudness (LUFS)</source>
        <translation>Громкость (LUFS)</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Формат</translation>
    </message>
    <message>
        <source>Sample rate</source>
        <translation>Частота</translation>
    </message>
    <message>
        <source>Ogg/MP3 quality</source>
        <translation>Качество Ogg/MP3</translation>
    </message>
    <message>
        <source>Normalize</source>
        <translation>Нормализация</translation>
    </message>
    <message>
        <source>Target</source>
        <translation>Цель</translation>
    </message>
    <message>
        <source>True peak ceiling</source>
        <translation>Потолок true peak</translation>
    </message>
    <message>
        <source>Transport</source>
        <translation>Транспорт</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Воспроизведение</translation>
    </message>
    <message>
        <source>Play / stop (Space)</source>
        <translation>Воспроизведение / стоп (Пробел)</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Стоп</translation>
    </message>
    <message>
        <source>Stop and return to the start</source>
        <translation>Остановить и вернуться к началу</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Запись</translation>
    </message>
    <message>
        <source>Record the armed track, or into the session (R, Ctrl+R)</source>
        <translation>Запись на готовую дорожку или в Session (R, Ctrl+R)</translation>
    </message>
    <message>
        <source>Metronome</source>
        <translation>Метроном</translation>
    </message>
    <message>
        <source>Metronome click on or off (K)</source>
        <translation>Включить или выключить метроном (K)</translation>
    </message>
    <message>
        <source>Cycle</source>
        <translation>Цикл</translation>
    </message>
    <message>
        <source>Cycle the range on the ruler (C); drag in the ruler&apos;s lower half to set it</source>
        <translation>Цикл по диапазону на линейке (C); задаётся перетаскиванием в нижней половине линейки</translation>
    </message>
    <message>
        <source>Punch</source>
        <translation>Punch</translation>
    </message>
    <message>
        <source>Punch recording between the punch points</source>
        <translation>Запись punch между точками punch</translation>
    </message>
    <message>
        <source>Split at Playhead</source>
        <translation>Разрезать на playhead</translation>
    </message>
    <message>
        <source>Split at the playhead (S)</source>
        <translation>Разрезать на playhead (S)</translation>
    </message>
    <message>
        <source>Playhead in bars, beats and sixteenths</source>
        <translation>Playhead в тактах, долях и шестнадцатых</translation>
    </message>
    <message>
        <source>Playhead in minutes and seconds</source>
        <translation>Playhead в минутах и секундах</translation>
    </message>
    <message>
        <source>Project tempo</source>
        <translation>Темп проекта</translation>
    </message>
    <message>
        <source>Project meter</source>
        <translation>Размер такта проекта</translation>
    </message>
    <message>
        <source>Snap</source>
        <translation>Привязка</translation>
    </message>
    <message>
        <source>Snap to the grid (Shift while dragging bypasses it)</source>
        <translation>Привязка к сетке (Shift при перетаскивании её отключает)</translation>
    </message>
    <message>
        <source>Grid for snapping and quantising</source>
        <translation>Сетка привязки и квантизации</translation>
    </message>
    <message>
        <source>Automation write mode for faders and pans: Read plays the lanes; Touch and Latch write while playing; Write writes always</source>
        <translation>Режим записи автоматизации фейдеров и панорам: «Чтение» воспроизводит линии; «Касание» и «Защёлка» пишут во время воспроизведения; «Запись» пишет всегда</translation>
    </message>
    <message>
        <source>Timeline</source>
        <translation>Таймлайн</translation>
    </message>
    <message>
        <source>Session</source>
        <translation>Сессия</translation>
    </message>
    <message>
        <source>Mixer</source>
        <translation>Микшер</translation>
    </message>
    <message>
        <source>Pages: Ctrl+1, Ctrl+2, Ctrl+3</source>
        <translation>Страницы: Ctrl+1, Ctrl+2, Ctrl+3</translation>
    </message>
    <message>
        <source>Audio processing load of the last moment, and device underruns (xruns) since start</source>
        <translation>Нагрузка обработки звука в последний момент и опустошения буфера устройства (xruns) с начала работы</translation>
    </message>
    <message>
        <source>About Halvora…</source>
        <translation>О Halvora…</translation>
    </message>
    <message>
        <source>Halvora 1.0.0</source>
        <translation>Halvora 1.0.0</translation>
    </message>
    <message>
        <source>Quit Halvora</source>
        <translation>Выйти из Halvora</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Файл</translation>
    </message>
    <message>
        <source>Edit</source>
        <translation>Правка</translation>
    </message>
    <message>
        <source>Track</source>
        <translation>Дорожка</translation>
    </message>
    <message>
        <source>Clip</source>
        <translation>Клип</translation>
    </message>
    <message>
        <source>View</source>
        <translation>Вид</translation>
    </message>
    <message>
        <source>Studio</source>
        <translation>Студия</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Справка</translation>
    </message>
    <message>
        <source>Import Audio…</source>
        <translation>Импортировать аудио…</translation>
    </message>
    <message>
        <source>Export WAV…</source>
        <translation>Экспортировать WAV…</translation>
    </message>
    <message>
        <source>Export Track as WAV…</source>
        <translation>Экспорт дорожки WAV…</translation>
    </message>
    <message>
        <source>Export Cycle Range as WAV…</source>
        <translation>Экспорт диапазона цикла в WAV…</translation>
    </message>
    <message>
        <source>Import MIDI File…</source>
        <translation>Импортировать MIDI-файл…</translation>
    </message>
    <message>
        <source>Export MIDI File…</source>
        <translation>Экспортировать MIDI-файл…</translation>
    </message>
    <message>
        <source>Export Stems…</source>
        <translation>Экспорт стемов…</translation>
    </message>
    <message>
        <source>Export Settings…</source>
        <translation>Параметры экспорта…</translation>
    </message>
    <message>
        <source>New Project</source>
        <translation>Новый проект</translation>
    </message>
    <message>
        <source>Open Project…</source>
        <translation>Открыть проект…</translation>
    </message>
    <message>
        <source>Open Recent</source>
        <translation>Недавние проекты</translation>
    </message>
    <message>
        <source>Save Project…</source>
        <translation>Сохранить проект…</translation>
    </message>
    <message>
        <source>Save As…</source>
        <translation>Сохранить как…</translation>
    </message>
    <message>
        <source>Collect Media and Save…</source>
        <translation>Собрать медиа и сохранить…</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Вырезать</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Копировать</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Вставить</translation>
    </message>
    <message>
        <source>Duplicate</source>
        <translation>Дублировать</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Удалить</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Выделить всё</translation>
    </message>
    <message>
        <source>Add Audio Track</source>
        <translation>Добавить аудиодорожку</translation>
    </message>
    <message>
        <source>Add MIDI Track</source>
        <translation>Добавить MIDI-дорожку</translation>
    </message>
    <message>
        <source>Add Return Track</source>
        <translation>Добавить return-дорожку</translation>
    </message>
    <message>
        <source>Rename Track</source>
        <translation>Переименовать дорожку</translation>
    </message>
    <message>
        <source>Track Colour…</source>
        <translation>Цвет дорожки…</translation>
    </message>
    <message>
        <source>Move Track Up</source>
        <translation>Дорожку выше</translation>
    </message>
    <message>
        <source>Move Track Down</source>
        <translation>Дорожку ниже</translation>
    </message>
    <message>
        <source>Mute Track</source>
        <translation>Заглушить дорожку</translation>
    </message>
    <message>
        <source>Solo Track</source>
        <translation>Соло дорожки</translation>
    </message>
    <message>
        <source>One Session Clip at a Time</source>
        <translation>Один клип Session за раз</translation>
    </message>
    <message>
        <source>Freeze Track</source>
        <translation>Заморозить дорожку</translation>
    </message>
    <message>
        <source>Render the track through its effects into one clip</source>
        <translation>Просчитать дорожку через её эффекты в один клип</translation>
    </message>
    <message>
        <source>Delete Track</source>
        <translation>Удалить дорожку</translation>
    </message>
    <message>
        <source>Split</source>
        <translation>Разрезать</translation>
    </message>
    <message>
        <source>Glue</source>
        <translation>Склеить</translation>
    </message>
    <message>
        <source>Crossfade</source>
        <translation>Кроссфейд</translation>
    </message>
    <message>
        <source>Loop</source>
        <translation>Петля</translation>
    </message>
    <message>
        <source>Flatten Comp</source>
        <translation>Свести комп</translation>
    </message>
    <message>
        <source>Detect Tempo of Clip</source>
        <translation>Определить темп клипа</translation>
    </message>
    <message>
        <source>Detect Tempo</source>
        <translation>Определить темп</translation>
    </message>
    <message>
        <source>Detect the tempo of the selected audio clip and place beat markers? Smart Tempo decides what happens to the project tempo (Studio ▸ Smart Tempo).</source>
        <translation>Определить темп выбранного аудиоклипа и расставить метки долей? Что станет с темпом проекта, решает Smart Tempo (Студия ▸ Smart Tempo).</translation>
    </message>
    <message>
        <source>Quantize</source>
        <translation>Квантизовать</translation>
    </message>
    <message>
        <source>Import Scala File…</source>
        <translation>Импортировать файл Scala…</translation>
    </message>
    <message>
        <source>Import Scala File… (now: %1)</source>
        <translation>Импортировать файл Scala… (сейчас: %1)</translation>
    </message>
    <message>
        <source>Keyboard Map (.kbm)…</source>
        <translation>Раскладка клавиатуры (.kbm)…</translation>
    </message>
    <message>
        <source>Keyboard Map (.kbm)… (now: %1)</source>
        <translation>Раскладка клавиатуры (.kbm)… (сейчас: %1)</translation>
    </message>
    <message>
        <source>No Keyboard Map</source>
        <translation>Без раскладки клавиатуры</translation>
    </message>
    <message>
        <source>Zoom In</source>
        <translation>Увеличить</translation>
    </message>
    <message>
        <source>Zoom Out</source>
        <translation>Уменьшить</translation>
    </message>
    <message>
        <source>Zoom to Fit</source>
        <translation>Уместить всё</translation>
    </message>
    <message>
        <source>Follow Playhead</source>
        <translation>Следовать за playhead</translation>
    </message>
    <message>
        <source>Show Automation</source>
        <translation>Показать автоматизацию</translation>
    </message>
    <message>
        <source>Automation Lane</source>
        <translation>Линия автоматизации</translation>
    </message>
    <message>
        <source>Go to Start</source>
        <translation>В начало</translation>
    </message>
    <message>
        <source>Go to End</source>
        <translation>В конец</translation>
    </message>
    <message>
        <source>Tap Tempo</source>
        <translation>Темп касанием</translation>
    </message>
    <message>
        <source>Tempo Follower</source>
        <translation>Следование за темпом</translation>
    </message>
    <message>
        <source>Follow the Input</source>
        <translation>Следовать за входом</translation>
    </message>
    <message>
        <source>Capture Flashback</source>
        <translation>Захватить flashback</translation>
    </message>
    <message>
        <source>Flashback Length</source>
        <translation>Длина flashback</translation>
    </message>
    <message>
        <source>Flashback Length: %1 s (change)</source>
        <translation>Длина flashback: %1 с (изменить)</translation>
    </message>
    <message>
        <source>Audio Settings…</source>
        <translation>Настройки аудио…</translation>
    </message>
    <message>
        <source>Count-in</source>
        <translation>Отсчёт</translation>
    </message>
    <message>
        <source>Punch On/Off</source>
        <translation>Punch вкл/выкл</translation>
    </message>
    <message>
        <source>Punch In (playhead)</source>
        <translation>Punch In (playhead)</translation>
    </message>
    <message>
        <source>Punch Out (playhead)</source>
        <translation>Punch Out (playhead)</translation>
    </message>
    <message>
        <source>Swing</source>
        <translation>Свинг</translation>
    </message>
    <message>
        <source>Groove Pool</source>
        <translation>Пул грувов</translation>
    </message>
    <message>
        <source>Extract from Clip</source>
        <translation>Извлечь из клипа</translation>
    </message>
    <message>
        <source>Tuning</source>
        <translation>Строй</translation>
    </message>
    <message>
        <source>Smart Tempo</source>
        <translation>Smart Tempo</translation>
    </message>
    <message>
        <source>Time Signature</source>
        <translation>Размер такта</translation>
    </message>
    <message>
        <source>Marker at Playhead</source>
        <translation>Marker на playhead</translation>
    </message>
    <message>
        <source>MIDI Transform</source>
        <translation>MIDI-преобразования</translation>
    </message>
    <message>
        <source>Transpose +12</source>
        <translation>Транспонировать +12</translation>
    </message>
    <message>
        <source>Transpose -12</source>
        <translation>Транспонировать -12</translation>
    </message>
    <message>
        <source>Reverse</source>
        <translation>Обратить</translation>
    </message>
    <message>
        <source>Velocity +10%</source>
        <translation>Velocity +10%</translation>
    </message>
    <message>
        <source>Velocity -10%</source>
        <translation>Velocity -10%</translation>
    </message>
    <message>
        <source>Generate (scale)</source>
        <translation>Сгенерировать (лад)</translation>
    </message>
    <message>
        <source>Apply Scala/KBM</source>
        <translation>Применить Scala/KBM</translation>
    </message>
    <message>
        <source>Low latency</source>
        <translation>Низкая задержка</translation>
    </message>
    <message>
        <source>Chord marker</source>
        <translation>Метка аккорда</translation>
    </message>
    <message>
        <source>Chord</source>
        <translation>Аккорд</translation>
    </message>
    <message>
        <source>Tempo Marker at Playhead</source>
        <translation>Метка темпа на playhead</translation>
    </message>
    <message>
        <source>Keyboard Shortcuts…</source>
        <translation>Клавиатурные сокращения…</translation>
    </message>
    <message>
        <source>Quick Start…</source>
        <translation>Быстрый старт…</translation>
    </message>
    <message>
        <source>Beta Test: Debug…</source>
        <translation>Бета-тест: Debug…</translation>
    </message>
    <message>
        <source>Debug</source>
        <translation>Отладка</translation>
    </message>
    <message>
        <source>Beta Test: Checklist…</source>
        <translation>Бета-тест: чеклист…</translation>
    </message>
    <message>
        <source>Checklist</source>
        <translation>Чеклист</translation>
    </message>
    <message>
        <source>1. Play
2. Import
3. Edit + undo
4. Mix
5. Save
6. Export</source>
        <translation>1. Воспроизведение
2. Импорт
3. Правка и отмена
4. Сведение
5. Сохранение
6. Экспорт</translation>
    </message>
    <message>
        <source>VST3 Licence (MIT)…</source>
        <translation>Лицензия VST3 (MIT)…</translation>
    </message>
    <message>
        <source>VST3</source>
        <translation>VST3</translation>
    </message>
    <message>
        <source>VST 3 SDK interfaces: MIT License.</source>
        <translation>Интерфейсы VST 3 SDK: лицензия MIT.</translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation>Проверить обновления…</translation>
    </message>
    <message>
        <source>Privacy…</source>
        <translation>Конфиденциальность…</translation>
    </message>
    <message>
        <source>Nothing to freeze: the track has no clips</source>
        <translation>Нечего замораживать: на дорожке нет клипов</translation>
    </message>
    <message>
        <source>Freezing the track…</source>
        <translation>Заморозка дорожки…</translation>
    </message>
    <message>
        <source>Track not frozen: %1</source>
        <translation>Дорожка не заморожена: %1</translation>
    </message>
    <message>
        <source>Scala scale</source>
        <translation>Лад Scala</translation>
    </message>
    <message>
        <source>Scala file not read: %1</source>
        <translation>Файл Scala не прочитан: %1</translation>
    </message>
    <message>
        <source>Keyboard map</source>
        <translation>Раскладка клавиатуры</translation>
    </message>
    <message>
        <source>Keyboard map not read: %1</source>
        <translation>Раскладка клавиатуры не прочитана: %1</translation>
    </message>
    <message>
        <source>Follow the System</source>
        <translation>Как в системе</translation>
    </message>
    <message>
        <source>English</source>
        <translation>Английский</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>Русский</translation>
    </message>
    <message>
        <source>The language changes when Halvora next starts</source>
        <translation>Язык сменится при следующем запуске Halvora</translation>
    </message>
    <message>
        <source>Language not saved: %1</source>
        <translation>Язык не сохранён: %1</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Язык</translation>
    </message>
    <message>
        <source>Show Overview</source>
        <translation>Показать обзор</translation>
    </message>
    <message>
        <source>Choose a MIDI track to see its instrument</source>
        <translation>Выберите MIDI-дорожку, чтобы увидеть её инструмент</translation>
    </message>
    <message>
        <source>Instrument…</source>
        <translation>Инструмент…</translation>
    </message>
    <message>
        <source>Reconnect Audio</source>
        <translation>Переподключить звук</translation>
    </message>
    <message>
        <source>“%1” is not a project folder: nothing was opened</source>
        <translation>«%1» — не папка проекта: ничего не открыто</translation>
    </message>
    <message>
        <source>New MIDI Clip</source>
        <translation>Новый MIDI-клип</translation>
    </message>
    <message>
        <source>Select a MIDI track to draw a clip on</source>
        <translation>Выберите MIDI-дорожку, на которой нарисовать клип</translation>
    </message>
    <message>
        <source>An empty one-bar MIDI clip at the playhead on the selected MIDI track (or double-click an empty spot of its lane)</source>
        <translation>Пустой MIDI-клип длиной в такт у курсора на выбранной MIDI-дорожке (или двойной щелчок по пустому месту её полосы)</translation>
    </message>
    <message>
        <source>Run All Plug-ins in Process</source>
        <translation>Все плагины — в программе</translation>
    </message>
    <message>
        <source>Insert Plug-in…</source>
        <translation>Вставить плагин…</translation>
    </message>
    <message>
        <source>Remote Control</source>
        <translation>Дистанционное управление</translation>
    </message>
    <message>
        <source>Listen for OSC remote control</source>
        <translation>Принимать команды OSC</translation>
    </message>
    <message>
        <source>UDP port:</source>
        <translation>Порт UDP:</translation>
    </message>
    <message>
        <source>Allow from the network</source>
        <translation>Разрешить из сети</translation>
    </message>
    <message>
        <source>Off: only programs on this computer can reach the port</source>
        <translation>Выключено: порт доступен только программам на этом компьютере</translation>
    </message>
    <message>
        <source>Remote Control (OSC)…</source>
        <translation>Дистанционное управление (OSC)…</translation>
    </message>
    <message>
        <source>The OSC addresses are listed in README.md.</source>
        <translation>Адреса OSC перечислены в README.md.</translation>
    </message>
    <message>
        <source>MIDI Mappings…</source>
        <translation>MIDI-привязки…</translation>
    </message>
    <message>
        <source>Plug-in DSP…</source>
        <translation>Нагрузка плагинов…</translation>
    </message>
</context>
<context>
    <name>orvane::MasteringPanel</name>
    <message>
        <source>Mastering</source>
        <translation>Мастеринг</translation>
    </message>
    <message>
        <source>Bypass</source>
        <translation>Обход</translation>
    </message>
    <message>
        <source>Excite</source>
        <translation>Эксайтер</translation>
    </message>
    <message>
        <source>Loudness compensation</source>
        <translation>Компенсация громкости</translation>
    </message>
    <message>
        <source>Character</source>
        <translation>Характер</translation>
    </message>
    <message>
        <source>Loudness</source>
        <translation>Громкость</translation>
    </message>
    <message>
        <source>Excite amount</source>
        <translation>Сила эксайтера</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>Ширина</translation>
    </message>
    <message>
        <source>%1 %</source>
        <translation>%1 %</translation>
    </message>
</context>
<context>
    <name>orvane::MidiEditor</name>
    <message>
        <source>MIDI</source>
        <translation>MIDI</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Вырезать</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Копировать</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Вставить</translation>
    </message>
    <message>
        <source>Select All Notes</source>
        <translation>Выделить все ноты</translation>
    </message>
    <message>
        <source>Delete Notes</source>
        <translation>Удалить ноты</translation>
    </message>
    <message>
        <source>Transpose</source>
        <translation>Транспонировать</translation>
    </message>
    <message>
        <source>Scale Duration</source>
        <translation>Масштабировать длительность</translation>
    </message>
    <message>
        <source>Velocity</source>
        <translation>Velocity</translation>
    </message>
    <message>
        <source>Pitch Bend</source>
        <translation>Pitch Bend</translation>
    </message>
    <message>
        <source>Euclidean Steps…</source>
        <translation>Евклидов ритм…</translation>
    </message>
    <message>
        <source>Euclidean Steps</source>
        <translation>Евклидов ритм</translation>
    </message>
    <message>
        <source>%1 (MIDI %2)</source>
        <translation>%1 (MIDI %2)</translation>
    </message>
    <message>
        <source>Drum</source>
        <translation>Барабан</translation>
    </message>
    <message>
        <source>Steps</source>
        <translation>Шаги</translation>
    </message>
    <message>
        <source>Hits</source>
        <translation>Удары</translation>
    </message>
    <message>
        <source>Groove</source>
        <translation>Грув</translation>
    </message>
    <message>
        <source>Apply %1 to Track</source>
        <translation>Применить %1 к дорожке</translation>
    </message>
    <message>
        <source>No Active Groove</source>
        <translation>Без активного грува</translation>
    </message>
    <message>
        <source>Active: %1</source>
        <translation>Активен: %1</translation>
    </message>
    <message>
        <source>MPE on This Track</source>
        <translation>MPE на этой дорожке</translation>
    </message>
    <message>
        <source>Expression Map</source>
        <translation>Карта артикуляций</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Quantize Strength</source>
        <translation>Квантизация с силой</translation>
    </message>
    <message>
        <source>Quantize %1%</source>
        <translation>Квантизовать на %1%</translation>
    </message>
</context>
<context>
    <name>orvane::MidiEditorPane</name>
    <message>
        <source>✎ Draw</source>
        <translation>✎ Рисовать</translation>
    </message>
    <message>
        <source>Draw notes one grid step long; drag to lengthen (D)</source>
        <translation>Рисовать ноты длиной в шаг сетки; перетащите, чтобы удлинить (D)</translation>
    </message>
    <message>
        <source>⬚ Select</source>
        <translation>⬚ Выделить</translation>
    </message>
    <message>
        <source>Select notes with a rubber band (V)</source>
        <translation>Выделить ноты рамкой (V)</translation>
    </message>
    <message>
        <source>Steps</source>
        <translation>Шаги</translation>
    </message>
    <message>
        <source>Drum steps: a click sets or clears the step</source>
        <translation>Шаги барабана: щелчок ставит или снимает шаг</translation>
    </message>
    <message>
        <source> Grid </source>
        <translation> Сетка </translation>
    </message>
    <message>
        <source>Grid for drawing, moving and resizing notes</source>
        <translation>Сетка для рисования, перемещения и изменения длины нот</translation>
    </message>
    <message>
        <source> Velocity </source>
        <translation> Velocity </translation>
    </message>
    <message>
        <source>Velocity of the selected notes (1 to 127)</source>
        <translation>Velocity выделенных нот (от 1 до 127)</translation>
    </message>
    <message>
        <source>MIDI</source>
        <translation>MIDI</translation>
    </message>
    <message>
        <source>✕ Close</source>
        <translation>✕ Закрыть</translation>
    </message>
    <message>
        <source>Close the editor (Esc)</source>
        <translation>Закрыть редактор (Esc)</translation>
    </message>
    <message>
        <source>Audition</source>
        <translation>Прослушивание</translation>
    </message>
    <message>
        <source>Hear a note on its track as it is drawn, clicked or moved</source>
        <translation>Слышать ноту на её дорожке, когда её рисуют, нажимают или двигают</translation>
    </message>
</context>
<context>
    <name>orvane::MidiMappingsWindow</name>
    <message>
        <source>MIDI Mappings</source>
        <translation>MIDI-привязки</translation>
    </message>
    <message>
        <source>Right-click a fader, knob or setting and choose “MIDI Learn” to add a mapping.</source>
        <translation>Щёлкните правой кнопкой по фейдеру, ручке или параметру и выберите «Обучение MIDI», чтобы добавить привязку.</translation>
    </message>
    <message>
        <source>Controller</source>
        <translation>Контроллер</translation>
    </message>
    <message>
        <source>Control</source>
        <translation>Регулятор</translation>
    </message>
    <message>
        <source>Range</source>
        <translation>Диапазон</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Удалить</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>centre</source>
        <translation>центр</translation>
    </message>
</context>
<context>
    <name>orvane::MixerPanel</name>
    <message>
        <source>EQ</source>
        <translation>EQ</translation>
    </message>
    <message>
        <source>Inserts</source>
        <translation>Вставки</translation>
    </message>
    <message>
        <source>+ Stock</source>
        <translation>+ Встроенный</translation>
    </message>
    <message>
        <source>Stock FX</source>
        <translation>Встроенные эффекты</translation>
    </message>
    <message>
        <source>Bypass</source>
        <translation>Обход</translation>
    </message>
    <message>
        <source>Bypass FX</source>
        <translation>Обход эффекта</translation>
    </message>
    <message>
        <source>Move Up</source>
        <translation>Выше</translation>
    </message>
    <message>
        <source>Move Down</source>
        <translation>Ниже</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Удалить</translation>
    </message>
    <message>
        <source>Editor</source>
        <translation>Редактор</translation>
    </message>
    <message>
        <source>Open the plug-in&apos;s editor</source>
        <translation>Открыть редактор плагина</translation>
    </message>
    <message>
        <source>Editor in the panel</source>
        <translation>Редактор в панели</translation>
    </message>
    <message>
        <source>No return track for this send</source>
        <translation>Нет return-дорожки для этого send</translation>
    </message>
    <message>
        <source>Macros</source>
        <translation>Макросы</translation>
    </message>
    <message>
        <source>Macro %1</source>
        <translation>Макрос %1</translation>
    </message>
    <message>
        <source>Snapshots</source>
        <translation>Снимки</translation>
    </message>
    <message>
        <source>Capture and recall the whole mix</source>
        <translation>Сохранить и вернуть весь микс</translation>
    </message>
    <message>
        <source>Capture Snapshot…</source>
        <translation>Сохранить снимок…</translation>
    </message>
    <message>
        <source>Capture Snapshot</source>
        <translation>Сохранить снимок</translation>
    </message>
    <message>
        <source>Snapshot name:</source>
        <translation>Имя снимка:</translation>
    </message>
    <message>
        <source>Mix %1</source>
        <translation>Микс %1</translation>
    </message>
    <message>
        <source>Recall Snapshot</source>
        <translation>Вернуть снимок</translation>
    </message>
    <message>
        <source>Mixer History</source>
        <translation>История микшера</translation>
    </message>
    <message>
        <source>Master</source>
        <translation>Мастер</translation>
    </message>
    <message>
        <source>  [bypass]</source>
        <translation>  [обход]</translation>
    </message>
    <message>
        <source>Choose a track to insert the effect on</source>
        <translation>Выберите дорожку для вставки эффекта</translation>
    </message>
    <message>
        <source>This effect has no editor window</source>
        <translation>У этого эффекта нет окна редактора</translation>
    </message>
    <message>
        <source>+ Plug-in</source>
        <translation>+ Плагин</translation>
    </message>
    <message>
        <source>  [not loaded]</source>
        <translation>  [не загружен]</translation>
    </message>
    <message>
        <source>  [failed]</source>
        <translation>  [отказ]</translation>
    </message>
    <message>
        <source>  [in process]</source>
        <translation>  [в программе]</translation>
    </message>
    <message>
        <source>Run in Process</source>
        <translation>Запускать в программе</translation>
    </message>
    <message>
        <source>Run the Track&apos;s Plug-ins in Process</source>
        <translation>Плагины дорожки — в программе</translation>
    </message>
    <message>
        <source>Find and insert VST 3 and LV2 plug-ins</source>
        <translation>Найти и вставить плагины VST 3 и LV2</translation>
    </message>
    <message>
        <source>No plug-ins found yet: scan them in the Browser</source>
        <translation>Плагины ещё не найдены: просканируйте их в Браузере</translation>
    </message>
    <message>
        <source>%1 → %2</source>
        <translation>%1 → %2</translation>
    </message>
    <message>
        <source>The plug-in&apos;s window crashed and was closed; the plug-in plays on</source>
        <translation>Окно плагина аварийно завершилось и закрыто; плагин продолжает работать</translation>
    </message>
    <message>
        <source>Plug-in Window</source>
        <translation>Окно плагина</translation>
    </message>
</context>
<context>
    <name>orvane::PanelCommands</name>
    <message>
        <source>Could not load %1</source>
        <translation>Не удалось загрузить %1</translation>
    </message>
</context>
<context>
    <name>orvane::PluginBrowserPanel</name>
    <message>
        <source>Search plug-ins</source>
        <translation>Поиск плагинов</translation>
    </message>
    <message>
        <source>Allowed only</source>
        <translation>Только разрешённые</translation>
    </message>
    <message>
        <source>Scan</source>
        <translation>Сканировать</translation>
    </message>
    <message>
        <source>Plug-in</source>
        <translation>Плагин</translation>
    </message>
    <message>
        <source>Vendor</source>
        <translation>Производитель</translation>
    </message>
    <message>
        <source>Category</source>
        <translation>Категория</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Статус</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>Путь</translation>
    </message>
    <message>
        <source>Load into Track</source>
        <translation>Загрузить в дорожку</translation>
    </message>
    <message>
        <source>Block</source>
        <translation>Блокировать</translation>
    </message>
    <message>
        <source>Unblock</source>
        <translation>Разблокировать</translation>
    </message>
    <message>
        <source>Allow</source>
        <translation>Разрешить</translation>
    </message>
    <message>
        <source>Disallow</source>
        <translation>Запретить</translation>
    </message>
    <message>
        <source>Scanning plug-ins…</source>
        <translation>Сканирование плагинов…</translation>
    </message>
    <message>
        <source>Scanning…</source>
        <translation>Сканирование…</translation>
    </message>
    <message>
        <source>Plug-ins found: %1</source>
        <translation>Найдено плагинов: %1</translation>
    </message>
    <message>
        <source>blocked</source>
        <translation>заблокирован</translation>
    </message>
    <message>
        <source>allowed</source>
        <translation>разрешён</translation>
    </message>
    <message>
        <source>Could not save the block list</source>
        <translation>Не удалось сохранить список блокировки</translation>
    </message>
    <message>
        <source>Allow list not saved: %1</source>
        <translation>Список разрешённых не сохранён: %1</translation>
    </message>
    <message>
        <source>Choose a plug-in in the list</source>
        <translation>Выберите плагин в списке</translation>
    </message>
    <message>
        <source>Plug-in blocked: %1</source>
        <translation>Плагин заблокирован: %1</translation>
    </message>
    <message>
        <source>Choose a track for the plug-in</source>
        <translation>Выберите дорожку для плагина</translation>
    </message>
    <message>
        <source>Plug-in loaded: %1</source>
        <translation>Плагин загружен: %1</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Формат</translation>
    </message>
</context>
<context>
    <name>orvane::PluginDspWindow</name>
    <message>
        <source>DSP: %1 % on average, %2 % at most of each block in its helper</source>
        <translation>DSP: в среднем %1 %, не больше %2 % каждого блока в помощнике</translation>
    </message>
    <message>
        <source>%1; the hand-over: %2 % on average, %3 % at most</source>
        <translation>%1; передача: в среднем %2 %, не больше %3 %</translation>
    </message>
    <message>
        <source>DSP: %1 % on average, %2 % at most of each block, the helper&apos;s round trip included</source>
        <translation>DSP: в среднем %1 %, не больше %2 % каждого блока, с обменом с помощником</translation>
    </message>
    <message>
        <source>DSP: %1 % on average, %2 % at most of each block</source>
        <translation>DSP: в среднем %1 %, не больше %2 % каждого блока</translation>
    </message>
    <message>
        <source>Plug-in DSP</source>
        <translation>Нагрузка плагинов</translation>
    </message>
    <message>
        <source>Each plug-in&apos;s share of every audio block while the song plays. A plug-in in a helper is timed there; the hand-over is what the helper adds on the audio thread.</source>
        <translation>Доля каждого звукового блока, которую занимает плагин во время воспроизведения. Плагин в помощнике измеряется там; передача — то, что помощник добавляет звуковому потоку.</translation>
    </message>
    <message>
        <source>Track</source>
        <translation>Дорожка</translation>
    </message>
    <message>
        <source>Plug-in</source>
        <translation>Плагин</translation>
    </message>
    <message>
        <source>Runs</source>
        <translation>Где работает</translation>
    </message>
    <message>
        <source>Average %</source>
        <translation>В среднем, %</translation>
    </message>
    <message>
        <source>Peak %</source>
        <translation>Пик, %</translation>
    </message>
    <message>
        <source>Hand-over average %</source>
        <translation>Передача в среднем, %</translation>
    </message>
    <message>
        <source>Hand-over peak %</source>
        <translation>Передача, пик, %</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>Not playing</source>
        <translation>Не играет</translation>
    </message>
    <message>
        <source>In a helper</source>
        <translation>В помощнике</translation>
    </message>
    <message>
        <source>In the program</source>
        <translation>В программе</translation>
    </message>
    <message>
        <source>On average: %1 % in the program, %2 % in helpers, %3 % for the hand-over to helpers</source>
        <translation>В среднем: %1 % в программе, %2 % в помощниках, %3 % на передачу помощникам</translation>
    </message>
</context>
<context>
    <name>orvane::PluginParameterPanel</name>
    <message>
        <source>%1 — Parameters</source>
        <translation>%1 — параметры</translation>
    </message>
    <message>
        <source>This plug-in has no parameters.</source>
        <translation>У этого плагина нет параметров.</translation>
    </message>
    <message>
        <source>Preset:</source>
        <translation>Пресет:</translation>
    </message>
    <message>
        <source>Save…</source>
        <translation>Сохранить…</translation>
    </message>
    <message>
        <source>A/B</source>
        <translation>A/B</translation>
    </message>
    <message>
        <source>Switch between this sound and the one before the last preset</source>
        <translation>Переключиться между этим звуком и звуком до последнего пресета</translation>
    </message>
    <message>
        <source>Double-click to type a value</source>
        <translation>Дважды щёлкните, чтобы ввести значение</translation>
    </message>
    <message>
        <source>A</source>
        <translation>А</translation>
    </message>
    <message>
        <source>Automate this parameter on the insert&apos;s lane</source>
        <translation>Автоматизировать этот параметр на дорожке вставки</translation>
    </message>
    <message>
        <source>Automate %1</source>
        <translation>Автоматизировать %1</translation>
    </message>
    <message>
        <source>The preset cannot be loaded: %1</source>
        <translation>Пресет не загружается: %1</translation>
    </message>
    <message>
        <source>The preset cannot be saved: %1</source>
        <translation>Пресет не сохраняется: %1</translation>
    </message>
    <message>
        <source>Save Preset</source>
        <translation>Сохранить пресет</translation>
    </message>
    <message>
        <source>Preset name:</source>
        <translation>Имя пресета:</translation>
    </message>
</context>
<context>
    <name>orvane::PluginPicker</name>
    <message>
        <source>Insert Plug-in</source>
        <translation>Вставка плагина</translation>
    </message>
    <message>
        <source>Search by name, maker, category, format or tag</source>
        <translation>Поиск по имени, производителю, категории, формату или метке</translation>
    </message>
    <message>
        <source>All Plug-ins</source>
        <translation>Все плагины</translation>
    </message>
    <message>
        <source>Favourites</source>
        <translation>Избранное</translation>
    </message>
    <message>
        <source>Recently Used</source>
        <translation>Недавние</translation>
    </message>
    <message>
        <source>Instruments</source>
        <translation>Инструменты</translation>
    </message>
    <message>
        <source>Effects</source>
        <translation>Эффекты</translation>
    </message>
    <message>
        <source>Several chosen with Ctrl or Shift go in one after another</source>
        <translation>Несколько, выбранных с Ctrl или Shift, вставляются друг за другом</translation>
    </message>
    <message>
        <source>☆ Favourite</source>
        <translation>☆ В избранное</translation>
    </message>
    <message>
        <source>Mark or unmark the chosen plug-ins as favourites</source>
        <translation>Добавить выбранные плагины в избранное или убрать их оттуда</translation>
    </message>
    <message>
        <source>Insert</source>
        <translation>Вставить</translation>
    </message>
</context>
<context>
    <name>orvane::QtApplicationUi</name>
    <message>
        <source>Open</source>
        <translation>Открыть</translation>
    </message>
    <message>
        <source>Halvora projects (*.halvora)</source>
        <translation>Проекты Halvora (*.halvora)</translation>
    </message>
    <message>
        <source>Open Project</source>
        <translation>Открыть проект</translation>
    </message>
</context>
<context>
    <name>orvane::QuickStartPanel</name>
    <message>
        <source>Quick Start</source>
        <translation>Быстрый старт</translation>
    </message>
    <message>
        <source>&lt;b&gt;Halvora&lt;/b&gt;&lt;ol&gt;&lt;li&gt;Space plays and stops the start-up song.&lt;/li&gt;&lt;li&gt;Drop an audio file on the timeline or choose “Import Audio…” (Ctrl+I).&lt;/li&gt;&lt;li&gt;Drag clips to move them and their edges to trim them; S splits at the playhead, Ctrl+D duplicates, Delete removes.&lt;/li&gt;&lt;li&gt;Double-click a MIDI clip to open the piano roll.&lt;/li&gt;&lt;li&gt;The Session and Mixer pages launch clips and mix.&lt;/li&gt;&lt;li&gt;Ctrl+Z undoes, Ctrl+S saves, Ctrl+E exports a WAV.&lt;/li&gt;&lt;/ol&gt;</source>
        <translation>&lt;b&gt;Halvora&lt;/b&gt;&lt;ol&gt;&lt;li&gt;Пробел — воспроизведение и остановка стартовой песни.&lt;/li&gt;&lt;li&gt;Перетащите аудиофайл на таймлайн или выберите «Импортировать аудио…» (Ctrl+I).&lt;/li&gt;&lt;li&gt;Клипы двигаются мышью, края обрезают, S режет на playhead, Ctrl+D дублирует, Delete удаляет.&lt;/li&gt;&lt;li&gt;Двойной щелчок по MIDI-клипу открывает piano roll.&lt;/li&gt;&lt;li&gt;Вкладки «Сессия» и «Микшер» — запуск клипов и сведение.&lt;/li&gt;&lt;li&gt;Ctrl+Z отменяет, Ctrl+S сохраняет, Ctrl+E экспортирует WAV.&lt;/li&gt;&lt;/ol&gt;</translation>
    </message>
</context>
<context>
    <name>orvane::SessionPanel</name>
    <message>
        <source>Follow Action</source>
        <translation>Follow Action</translation>
    </message>
    <message>
        <source>Stop All Clips</source>
        <translation>Стоп все клипы</translation>
    </message>
    <message>
        <source>Capture to Arrangement</source>
        <translation>Захват в аранжировку</translation>
    </message>
    <message>
        <source>Add Scene</source>
        <translation>Добавить сцену</translation>
    </message>
    <message>
        <source>The engine queue is full</source>
        <translation>Очередь движка переполнена</translation>
    </message>
    <message>
        <source>Nothing to capture: no session clips are playing</source>
        <translation>Нечего захватывать: клипы сессии не играют</translation>
    </message>
    <message>
        <source>Clips captured: %1</source>
        <translation>Захвачено клипов: %1</translation>
    </message>
    <message>
        <source>Scene</source>
        <translation>Сцена</translation>
    </message>
    <message>
        <source>Scene name:</source>
        <translation>Имя сцены:</translation>
    </message>
    <message>
        <source>Scene Tempo and Meter</source>
        <translation>Темп и размер сцены</translation>
    </message>
    <message>
        <source>Set the tempo</source>
        <translation>Задать темп</translation>
    </message>
    <message>
        <source>Set the meter</source>
        <translation>Задать размер</translation>
    </message>
    <message>
        <source>over</source>
        <translation>на</translation>
    </message>
    <message>
        <source>Insert Scene</source>
        <translation>Вставить сцену</translation>
    </message>
    <message>
        <source>Duplicate Scene</source>
        <translation>Дублировать сцену</translation>
    </message>
    <message>
        <source>Delete Scene</source>
        <translation>Удалить сцену</translation>
    </message>
    <message>
        <source>Move Up</source>
        <translation>Выше</translation>
    </message>
    <message>
        <source>Move Down</source>
        <translation>Ниже</translation>
    </message>
    <message>
        <source>Rename…</source>
        <translation>Переименовать…</translation>
    </message>
    <message>
        <source>Tempo and Meter…</source>
        <translation>Темп и размер…</translation>
    </message>
    <message>
        <source>Session Player</source>
        <translation>Плеер Session</translation>
    </message>
    <message>
        <source>Duplicate Clip</source>
        <translation>Дублировать клип</translation>
    </message>
    <message>
        <source>Launch Mode</source>
        <translation>Режим запуска</translation>
    </message>
    <message>
        <source>Move to Scene</source>
        <translation>Перенести в сцену</translation>
    </message>
    <message>
        <source>New MIDI Clip</source>
        <translation>Новый MIDI-клип</translation>
    </message>
    <message>
        <source>A session clip stays in its track&apos;s column</source>
        <translation>Клип сессии остаётся в столбце своей дорожки</translation>
    </message>
    <message>
        <source>As the Session</source>
        <translation>Как в сессии</translation>
    </message>
    <message>
        <source>1 Beat</source>
        <translation>1 доля</translation>
    </message>
    <message>
        <source>1 Bar</source>
        <translation>1 такт</translation>
    </message>
    <message>
        <source>8 Bars</source>
        <translation>8 тактов</translation>
    </message>
    <message>
        <source>Launch Quantisation</source>
        <translation>Квантование запуска</translation>
    </message>
    <message>
        <source>Immediately</source>
        <translation>Сразу</translation>
    </message>
    <message>
        <source>Copy from Arrangement</source>
        <translation>Копировать из аранжировки</translation>
    </message>
    <message>
        <source>This slot cannot take a new MIDI clip</source>
        <translation>В эту ячейку нельзя добавить новый MIDI-клип</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Play Again</source>
        <translation>Играть снова</translation>
    </message>
    <message>
        <source>Next Scene</source>
        <translation>Следующая сцена</translation>
    </message>
    <message>
        <source>Previous Scene</source>
        <translation>Предыдущая сцена</translation>
    </message>
    <message>
        <source>Next Clip in Column</source>
        <translation>Следующий клип в столбце</translation>
    </message>
    <message>
        <source>Record into Slot</source>
        <translation>Записать в слот</translation>
    </message>
</context>
<context>
    <name>orvane::StockEffectPanel</name>
    <message>
        <source>Show Automation</source>
        <translation>Показать автоматизацию</translation>
    </message>
</context>
<context>
    <name>orvane::SynthPanel</name>
    <message>
        <source>Instrument:</source>
        <translation>Инструмент:</translation>
    </message>
    <message>
        <source>Halvora Synth</source>
        <translation>Halvora Synth</translation>
    </message>
    <message>
        <source>Sine Voice</source>
        <translation>Синусоидальный голос</translation>
    </message>
    <message>
        <source>What the track&apos;s notes play</source>
        <translation>Чем звучат ноты дорожки</translation>
    </message>
    <message>
        <source>Preset:</source>
        <translation>Пресет:</translation>
    </message>
    <message>
        <source>Sets every parameter to a factory sound</source>
        <translation>Задаёт все параметры по заводскому звуку</translation>
    </message>
    <message>
        <source>This track plays the plain sine voice. Choose Halvora Synth to shape its sound.</source>
        <translation>Эта дорожка звучит простым синусоидальным голосом. Выберите Halvora Synth, чтобы настроить её звук.</translation>
    </message>
    <message>
        <source>Oscillators</source>
        <translation>Генераторы</translation>
    </message>
    <message>
        <source>Noise</source>
        <translation>Шум</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>Фильтр</translation>
    </message>
    <message>
        <source>Filter Envelope</source>
        <translation>Огибающая фильтра</translation>
    </message>
    <message>
        <source>Amp Envelope</source>
        <translation>Огибающая громкости</translation>
    </message>
    <message>
        <source>LFO</source>
        <translation>LFO</translation>
    </message>
    <message>
        <source>Glide and Voices</source>
        <translation>Портаменто и голоса</translation>
    </message>
    <message>
        <source>Master</source>
        <translation>Выход</translation>
    </message>
    <message>
        <source>%1 — double-click to type a value</source>
        <translation>%1 — двойной щелчок, чтобы ввести значение</translation>
    </message>
    <message>
        <source>Type a value, with or without its unit, and press Enter</source>
        <translation>Введите значение, с единицей или без, и нажмите Enter</translation>
    </message>
    <message>
        <source>%1 — Halvora Synth</source>
        <translation>%1 — Halvora Synth</translation>
    </message>
    <message>
        <source>%1 — Sine Voice</source>
        <translation>%1 — синусоидальный голос</translation>
    </message>
    <message>
        <source>● Changed since the preset</source>
        <translation>● Изменено после пресета</translation>
    </message>
    <message>
        <source>Choose the preset again to take back the changes</source>
        <translation>Выберите пресет снова, чтобы отменить изменения</translation>
    </message>
    <message>
        <source>Drum Sampler</source>
        <translation>Драм-сэмплер</translation>
    </message>
    <message>
        <source>%1 — Drum Sampler</source>
        <translation>%1 — Драм-сэмплер</translation>
    </message>
    <message>
        <source>General MIDI</source>
        <translation>General MIDI</translation>
    </message>
    <message>
        <source>%1 — General MIDI</source>
        <translation>%1 — General MIDI</translation>
    </message>
</context>
<context>
    <name>orvane::TimelineView</name>
    <message>
        <source>Track Colour</source>
        <translation>Цвет дорожки</translation>
    </message>
    <message>
        <source>Audio</source>
        <translation>Аудио</translation>
    </message>
    <message>
        <source>Select an audio clip first</source>
        <translation>Сначала выберите аудиоклип</translation>
    </message>
    <message>
        <source>Normalize</source>
        <translation>Нормализовать</translation>
    </message>
    <message>
        <source>Reverse</source>
        <translation>Обратить</translation>
    </message>
    <message>
        <source>Invert Phase</source>
        <translation>Инвертировать фазу</translation>
    </message>
    <message>
        <source>Trim Silence</source>
        <translation>Обрезать тишину</translation>
    </message>
    <message>
        <source>Pitch Shift</source>
        <translation>Сдвиг высоты</translation>
    </message>
    <message>
        <source>Pitch Correct to Scale</source>
        <translation>Коррекция высоты по ладу</translation>
    </message>
    <message>
        <source>Split into Stems</source>
        <translation>Разделить на стемы</translation>
    </message>
    <message>
        <source>Slice at Transients</source>
        <translation>Нарезать по транзиентам</translation>
    </message>
    <message>
        <source>Align Onset to Clip Start</source>
        <translation>Выровнять атаку по началу клипа</translation>
    </message>
    <message>
        <source>Snap Onset to Playhead</source>
        <translation>Привязать атаку к playhead</translation>
    </message>
    <message>
        <source>Move Nearest Warp Marker to Playhead</source>
        <translation>Передвинуть ближайший warp-маркер к playhead</translation>
    </message>
    <message>
        <source>Toggle Track Freeze Mark</source>
        <translation>Переключить метку заморозки дорожки</translation>
    </message>
    <message>
        <source>Add Audio Track</source>
        <translation>Добавить аудиодорожку</translation>
    </message>
    <message>
        <source>Add MIDI Track</source>
        <translation>Добавить MIDI-дорожку</translation>
    </message>
    <message>
        <source>Add Return Track</source>
        <translation>Добавить return-дорожку</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Вставить</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Выделить всё</translation>
    </message>
    <message>
        <source>Rename…</source>
        <translation>Переименовать…</translation>
    </message>
    <message>
        <source>Colour…</source>
        <translation>Цвет…</translation>
    </message>
    <message>
        <source>Input</source>
        <translation>Вход</translation>
    </message>
    <message>
        <source>In %1/%2</source>
        <translation>Вход %1/%2</translation>
    </message>
    <message>
        <source>Move Up</source>
        <translation>Выше</translation>
    </message>
    <message>
        <source>Move Down</source>
        <translation>Ниже</translation>
    </message>
    <message>
        <source>Delete Track</source>
        <translation>Удалить дорожку</translation>
    </message>
    <message>
        <source>Open in Editor</source>
        <translation>Открыть в редакторе</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Вырезать</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Копировать</translation>
    </message>
    <message>
        <source>Duplicate</source>
        <translation>Дублировать</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Удалить</translation>
    </message>
    <message>
        <source>Split at Playhead</source>
        <translation>Разрезать на playhead</translation>
    </message>
    <message>
        <source>Glue</source>
        <translation>Склеить</translation>
    </message>
    <message>
        <source>Crossfade</source>
        <translation>Кроссфейд</translation>
    </message>
    <message>
        <source>Loop</source>
        <translation>Петля</translation>
    </message>
    <message>
        <source>Flatten Comp</source>
        <translation>Свести комп</translation>
    </message>
    <message>
        <source>Add Warp Marker at Playhead</source>
        <translation>Добавить warp-маркер на playhead</translation>
    </message>
    <message>
        <source>Remove Warp Marker at Playhead</source>
        <translation>Убрать warp-маркер на playhead</translation>
    </message>
    <message>
        <source>Tags (after the first save)</source>
        <translation>Теги (после первого сохранения)</translation>
    </message>
    <message>
        <source>Rename Marker…</source>
        <translation>Переименовать метку…</translation>
    </message>
    <message>
        <source>Rename Marker</source>
        <translation>Переименовать метку</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Имя</translation>
    </message>
    <message>
        <source>Remove Marker</source>
        <translation>Удалить метку</translation>
    </message>
    <message>
        <source>Change Tempo…</source>
        <translation>Изменить темп…</translation>
    </message>
    <message>
        <source>Tempo Marker</source>
        <translation>Метка темпа</translation>
    </message>
    <message>
        <source>Meter %1/%2</source>
        <translation>Размер %1/%2</translation>
    </message>
    <message>
        <source>Add Marker Here</source>
        <translation>Добавить метку здесь</translation>
    </message>
    <message>
        <source>Add Tempo Marker Here…</source>
        <translation>Добавить метку темпа здесь…</translation>
    </message>
    <message>
        <source>Add Meter Marker Here</source>
        <translation>Добавить метку размера здесь</translation>
    </message>
    <message>
        <source>Add Chord Marker Here…</source>
        <translation>Добавить метку аккорда здесь…</translation>
    </message>
    <message>
        <source>Chord Marker</source>
        <translation>Метка аккорда</translation>
    </message>
    <message>
        <source>Chord</source>
        <translation>Аккорд</translation>
    </message>
    <message>
        <source>Cycle Start Here</source>
        <translation>Начало цикла здесь</translation>
    </message>
    <message>
        <source>Cycle End Here</source>
        <translation>Конец цикла здесь</translation>
    </message>
    <message>
        <source>Delete Point</source>
        <translation>Удалить точку</translation>
    </message>
    <message>
        <source>Add Automation Clip (1 bar)</source>
        <translation>Добавить клип автоматизации (1 такт)</translation>
    </message>
    <message>
        <source>Show Lane</source>
        <translation>Показать линию</translation>
    </message>
    <message>
        <source>Scroll in time (Shift+wheel); Ctrl+wheel zooms</source>
        <translation>Прокрутка по времени (Shift+колесо); Ctrl+колесо меняет масштаб</translation>
    </message>
    <message>
        <source>in %1/%2</source>
        <translation>вх %1/%2</translation>
    </message>
    <message numerus="yes">
        <source>Copied %n clip(s)</source>
        <translation>
            <numerusform>Скопирован %n клип</numerusform>
            <numerusform>Скопировано %n клипа</numerusform>
            <numerusform>Скопировано %n клипов</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1%n semitone(s)</source>
        <translation>
            <numerusform>%1%n полутон</numerusform>
            <numerusform>%1%n полутона</numerusform>
            <numerusform>%1%n полутонов</numerusform>
        </translation>
    </message>
    <message>
        <source>Monitor</source>
        <translation>Мониторинг</translation>
    </message>
    <message>
        <source>Auto (while armed)</source>
        <translation>Авто (при готовности к записи)</translation>
    </message>
    <message>
        <source>In</source>
        <translation>Вход</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Выкл</translation>
    </message>
    <message>
        <source>Mute</source>
        <translation>Заглушение</translation>
    </message>
    <message>
        <source>Solo</source>
        <translation>Соло</translation>
    </message>
    <message>
        <source>Arm for recording</source>
        <translation>Готовность к записи</translation>
    </message>
    <message>
        <source>Monitor: In — the input is always heard. Click for Off</source>
        <translation>Мониторинг: вход — вход слышен всегда. Щелчок: выкл</translation>
    </message>
    <message>
        <source>Monitor: Off — the input is never heard. Click for Auto</source>
        <translation>Мониторинг: выкл — вход не слышен. Щелчок: авто</translation>
    </message>
    <message>
        <source>Monitor: Auto — the input is heard while the track is armed. Click for In</source>
        <translation>Мониторинг: авто — вход слышен, пока дорожка готова к записи. Щелчок: вход</translation>
    </message>
    <message>
        <source>Insert %1</source>
        <translation>Вставка %1</translation>
    </message>
    <message>
        <source>No insert %1</source>
        <translation>Нет вставки %1</translation>
    </message>
    <message>
        <source>Sandbox</source>
        <translation>Песочница</translation>
    </message>
    <message>
        <source>One Helper per Plug-in</source>
        <translation>Один помощник на плагин</translation>
    </message>
    <message>
        <source>One Helper per Track</source>
        <translation>Один помощник на дорожку</translation>
    </message>
    <message>
        <source>Instrument…</source>
        <translation>Инструмент…</translation>
    </message>
    <message>
        <source>Instrument</source>
        <translation>Инструмент</translation>
    </message>
    <message>
        <source>Halvora Synth</source>
        <translation>Halvora Synth</translation>
    </message>
    <message>
        <source>Sine Voice</source>
        <translation>Синусоидальный голос</translation>
    </message>
    <message>
        <source>Drum Sampler</source>
        <translation>Драм-сэмплер</translation>
    </message>
    <message>
        <source>New MIDI Clip</source>
        <translation>Новый MIDI-клип</translation>
    </message>
    <message>
        <source>Run the Track&apos;s Plug-ins in Process</source>
        <translation>Плагины дорожки — в программе</translation>
    </message>
    <message>
        <source>General MIDI</source>
        <translation>General MIDI</translation>
    </message>
    <message>
        <source>Volume: %1 (drag)</source>
        <translation>Громкость: %1 (тяните)</translation>
    </message>
</context>
<context>
    <name>orvane::TransportSyncControls</name>
    <message>
        <source>The choice could not be stored: %1</source>
        <translation>Не удалось сохранить выбор: %1</translation>
    </message>
    <message>
        <source>Transport sync works on the JACK device only; it starts with it</source>
        <translation>Синхронизация транспорта работает только с устройством JACK; она включится вместе с ним</translation>
    </message>
    <message>
        <source>Sync</source>
        <translation>Синхр.</translation>
    </message>
    <message>
        <source>JACK transport</source>
        <translation>Транспорт JACK</translation>
    </message>
    <message>
        <source>Not linked to the JACK transport</source>
        <translation>Не связан с транспортом JACK</translation>
    </message>
    <message>
        <source>Lead the JACK transport</source>
        <translation>Вести транспорт JACK</translation>
    </message>
    <message>
        <source>Follow the JACK transport</source>
        <translation>Следовать транспорту JACK</translation>
    </message>
    <message>
        <source>MIDI clock</source>
        <translation>MIDI-клок</translation>
    </message>
    <message>
        <source>No MIDI clock</source>
        <translation>Без MIDI-клока</translation>
    </message>
    <message>
        <source>Send MIDI clock</source>
        <translation>Передавать MIDI-клок</translation>
    </message>
    <message>
        <source>Follow MIDI clock</source>
        <translation>Следовать MIDI-клоку</translation>
    </message>
    <message>
        <source>Follow MIDI clock and its tempo</source>
        <translation>Следовать MIDI-клоку и его темпу</translation>
    </message>
    <message>
        <source>Keeping time with other programs: %1; %2</source>
        <translation>Синхронизация с другими программами: %1; %2</translation>
    </message>
</context>
</TS>
