<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ru">
<context>
    <name>DeviceParameters</name>
    <message>
        <source>%1: %2 is not a finite number</source>
        <translation>%1: %2 is not a finite number</translation>
    </message>
    <message>
        <source>%1: %2 does not fit an unsigned 16-bit register (a whole number from 0 to 65535)</source>
        <translation>%1: %2 does not fit an unsigned 16-bit register (a whole number from 0 to 65535)</translation>
    </message>
    <message>
        <source>%1: %2 is beyond the range of a float</source>
        <translation>%1: %2 is beyond the range of a float</translation>
    </message>
    <message>
        <source>%1: &apos;%2&apos; is not a whole number from 0 to 65535</source>
        <translation>%1: &apos;%2&apos; is not a whole number from 0 to 65535</translation>
    </message>
    <message>
        <source>%1: &apos;%2&apos; is not a number</source>
        <translation>%1: &apos;%2&apos; is not a number</translation>
    </message>
    <message>
        <source>cannot write %1: %2</source>
        <translation>cannot write %1: %2</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>cannot read %1: %2</translation>
    </message>
    <message>
        <source>%1 is too large to be a parameter backup</source>
        <translation>%1 is too large to be a parameter backup</translation>
    </message>
    <message>
        <source>%1 is not valid JSON (offset %2: %3)</source>
        <translation>%1 is not valid JSON (offset %2: %3)</translation>
    </message>
    <message>
        <source>%1 is not a parameter backup: no JSON object at the top</source>
        <translation>%1 is not a parameter backup: no JSON object at the top</translation>
    </message>
    <message>
        <source>%1 is not a parameter backup: format is not &quot;%2&quot;</source>
        <translation>%1 is not a parameter backup: format is not &quot;%2&quot;</translation>
    </message>
    <message>
        <source>none</source>
        <translation>none</translation>
    </message>
    <message>
        <source>%1 has backup version %2; this program reads version %3</source>
        <translation>%1 has backup version %2; this program reads version %3</translation>
    </message>
    <message>
        <source>%1: &quot;revision&quot; and &quot;saved&quot; must be text</source>
        <translation>%1: &quot;revision&quot; and &quot;saved&quot; must be text</translation>
    </message>
    <message>
        <source>%1 holds no &quot;parameters&quot; object with values</source>
        <translation>%1 holds no &quot;parameters&quot; object with values</translation>
    </message>
    <message>
        <source>%1 has unknown parameter names: %2</source>
        <translation>%1 has unknown parameter names: %2</translation>
    </message>
    <message>
        <source>%1: the value of %2 is not a number</source>
        <translation>%1: the value of %2 is not a number</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Тип протокола</source>
        <translation>Protocol type</translation>
    </message>
    <message>
        <source>Адрес Modbus</source>
        <translation>Modbus address</translation>
    </message>
    <message>
        <source>Дивиация частоты, МГц</source>
        <translation>Frequency deviation, MHz</translation>
    </message>
    <message>
        <source>Reduction Tx Power</source>
        <translation>Reduction Tx Power</translation>
    </message>
    <message>
        <source>Detector. Size Lock Data</source>
        <translation>Detector. Size Lock Data</translation>
    </message>
    <message>
        <source>Detector. Th_Coef_Min</source>
        <translation>Detector. Th_Coef_Min</translation>
    </message>
    <message>
        <source>Detector. Th_Coef_Max</source>
        <translation>Detector. Th_Coef_Max</translation>
    </message>
    <message>
        <source>Detector. Smth_Coef</source>
        <translation>Detector. Smth_Coef</translation>
    </message>
    <message>
        <source>Detector. MTI_Coef</source>
        <translation>Detector. MTI_Coef</translation>
    </message>
    <message>
        <source>Detector. Th_Coef_DC</source>
        <translation>Detector. Th_Coef_DC</translation>
    </message>
    <message>
        <source>Tracker. Smth_Coef</source>
        <translation>Tracker. Smth_Coef</translation>
    </message>
</context>
<context>
    <name>LineFrameModel</name>
    <message>
        <source>Время, мс</source>
        <translation>Time, ms</translation>
    </message>
    <message>
        <source>Направление</source>
        <translation>Direction</translation>
    </message>
    <message>
        <source>Байты</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <source>Смысл</source>
        <translation>Meaning</translation>
    </message>
    <message>
        <source>Цикл, мс</source>
        <translation>Round-trip, ms</translation>
    </message>
    <message>
        <source>Состояние</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>отправлен</source>
        <translation>sent</translation>
    </message>
    <message>
        <source>без ответа</source>
        <translation>unanswered</translation>
    </message>
    <message>
        <source>принят</source>
        <translation>received</translation>
    </message>
    <message>
        <source>отказ</source>
        <translation>refused</translation>
    </message>
    <message>
        <source>отброшены</source>
        <translation>dropped</translation>
    </message>
    <message>
        <source>ошибка CRC</source>
        <translation>bad CRC</translation>
    </message>
    <message>
        <source>опоздал</source>
        <translation>late</translation>
    </message>
    <message>
        <source>тайм-аут</source>
        <translation>time-out</translation>
    </message>
    <message>
        <source>ошибка порта</source>
        <translation>port error</translation>
    </message>
    <message>
        <source> (%1 значений)</source>
        <translation> (%1 values)</translation>
    </message>
    <message>
        <source>катушка %1</source>
        <translation>coil %1</translation>
    </message>
    <message>
        <source>катушка %1 (%2)</source>
        <translation>coil %1 (%2)</translation>
    </message>
    <message>
        <source>ВКЛ</source>
        <translation>ON</translation>
    </message>
    <message>
        <source>ВЫКЛ</source>
        <translation>OFF</translation>
    </message>
    <message>
        <source>сброс адреса (широковещательный)</source>
        <translation>address reset (broadcast)</translation>
    </message>
    <message>
        <source>посторонние байты отброшены</source>
        <translation>stray bytes dropped</translation>
    </message>
    <message>
        <source>опоздавший ответ отброшен</source>
        <translation>late answer dropped</translation>
    </message>
    <message>
        <source>нет ответа (тайм-аут)</source>
        <translation>no answer (time-out)</translation>
    </message>
    <message>
        <source>порт потерян: %1</source>
        <translation>port lost: %1</translation>
    </message>
    <message>
        <source>отказ: функция %1</source>
        <translation>refused: function %1</translation>
    </message>
    <message>
        <source>, регистр %1</source>
        <translation>, register %1</translation>
    </message>
    <message>
        <source>, катушка %1</source>
        <translation>, coil %1</translation>
    </message>
    <message>
        <source>, блок @0x%1</source>
        <translation>, block @0x%1</translation>
    </message>
    <message>
        <source>, код %1</source>
        <translation>, code %1</translation>
    </message>
    <message>
        <source>чтение регистров хранения %1 ×%2</source>
        <translation>read holding %1 ×%2</translation>
    </message>
    <message>
        <source>чтение входных регистров %1 ×%2</source>
        <translation>read input %1 ×%2</translation>
    </message>
    <message>
        <source>чтение катушек %1 ×%2</source>
        <translation>read coils %1 ×%2</translation>
    </message>
    <message>
        <source>запись: %1</source>
        <translation>write: %1</translation>
    </message>
    <message>
        <source>запись регистров хранения %1</source>
        <translation>write holding %1</translation>
    </message>
    <message>
        <source>блок прошивки %1</source>
        <translation>firmware block %1</translation>
    </message>
    <message>
        <source>функция %1, %2 байт</source>
        <translation>function %1, %2 bytes</translation>
    </message>
    <message>
        <source>ответ: %1</source>
        <translation>answer: %1</translation>
    </message>
    <message>
        <source>ответ: %1 записаны</source>
        <translation>answer: %1 written</translation>
    </message>
    <message>
        <source>ответ: блок %1 записан</source>
        <translation>answer: block %1 written</translation>
    </message>
    <message>
        <source>ответ: эхо сброса адреса</source>
        <translation>answer: address reset echoed</translation>
    </message>
    <message>
        <source>ответ: функция %1, %2 байт</source>
        <translation>answer: function %1, %2 bytes</translation>
    </message>
    <message>
        <source>сохранение настроек</source>
        <translation>save settings</translation>
    </message>
    <message>
        <source>самодиагностика</source>
        <translation>self-test</translation>
    </message>
    <message>
        <source>режим программирования</source>
        <translation>programming mode</translation>
    </message>
    <message>
        <source>стирание ПО</source>
        <translation>erase firmware</translation>
    </message>
    <message>
        <source>флаг прошивки</source>
        <translation>firmware flag</translation>
    </message>
    <message>
        <source>проверка Flash</source>
        <translation>flash check</translation>
    </message>
    <message>
        <source>проверка связи</source>
        <translation>connection probe</translation>
    </message>
    <message>
        <source>модуляция FMCW</source>
        <translation>FMCW modulation</translation>
    </message>
    <message>
        <source>модуляция CW</source>
        <translation>CW modulation</translation>
    </message>
</context>
<context>
    <name>LineMonitorWindow</name>
    <message>
        <source>Монитор линии</source>
        <translation>Line monitor</translation>
    </message>
    <message>
        <source>Скрыть опрос измерения</source>
        <translation>Hide measurement polling</translation>
    </message>
    <message>
        <source>Пауза</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Очистить</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Сохранить CSV…</source>
        <translation>Save CSV…</translation>
    </message>
    <message>
        <source>Продолжить</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>Кадров: %1 из %2</source>
        <translation>Frames: %1 of %2</translation>
    </message>
    <message>
        <source>Кадры линии сохранены в %1</source>
        <translation>Line frames saved to %1</translation>
    </message>
    <message>
        <source>Кадры линии не сохранены: %1: %2</source>
        <translation>Line frames not saved: %1: %2</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Configurator_ZETRAv1</source>
        <translation>Configurator_ZETRAv1</translation>
    </message>
    <message>
        <source>Настройки подключения</source>
        <translation>Connection</translation>
    </message>
    <message>
        <source>Порт</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Отображать отправленные байты</source>
        <translation>Show sent bytes</translation>
    </message>
    <message>
        <source>Подключить</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Отображать принятые байты</source>
        <translation>Show received bytes</translation>
    </message>
    <message>
        <source>Измерение</source>
        <translation>Measurement</translation>
    </message>
    <message>
        <source>Высота: </source>
        <translation>Height: </translation>
    </message>
    <message>
        <source>Сбросить</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>Запись</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>Настройка</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Конфигурация</source>
        <translation>Configuration</translation>
    </message>
    <message>
        <source>Тип протокола:</source>
        <translation>Protocol type:</translation>
    </message>
    <message>
        <source>Стандартный</source>
        <translation>Standard</translation>
    </message>
    <message>
        <source>Расширенный</source>
        <translation>Extended</translation>
    </message>
    <message>
        <source>Modbus</source>
        <translation>Modbus</translation>
    </message>
    <message>
        <source>Debug</source>
        <translation>Debug</translation>
    </message>
    <message>
        <source>Адрес Modbus</source>
        <translation>Modbus address</translation>
    </message>
    <message>
        <source>Сохранить в ПЗУ</source>
        <translation>Save to ROM</translation>
    </message>
    <message>
        <source>Модуляция</source>
        <translation>Modulation</translation>
    </message>
    <message>
        <source>FMCW</source>
        <translation>FMCW</translation>
    </message>
    <message>
        <source>CW</source>
        <translation>CW</translation>
    </message>
    <message>
        <source>Диагностика</source>
        <translation>Diagnostics</translation>
    </message>
    <message>
        <source>Телеметрия</source>
        <translation>Telemetry</translation>
    </message>
    <message>
        <source>Autoscale</source>
        <translation>Autoscale</translation>
    </message>
    <message>
        <source>P-P = </source>
        <translation>P-P = </translation>
    </message>
    <message>
        <source>Читать</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Сохранить</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Тип данных</source>
        <translation>Data type</translation>
    </message>
    <message>
        <source>Программирование</source>
        <translation>Programming</translation>
    </message>
    <message>
        <source>Выбрать файл</source>
        <translation>Choose file</translation>
    </message>
    <message>
        <source>Версия ПО</source>
        <translation>Firmware revision</translation>
    </message>
    <message>
        <source>Обновить ПО</source>
        <translation>Update firmware</translation>
    </message>
    <message>
        <source>Reduction Tx Power:</source>
        <translation>Reduction Tx Power:</translation>
    </message>
    <message>
        <source>0 дБ</source>
        <translation>0 dB</translation>
    </message>
    <message>
        <source>0,4 дБ</source>
        <translation>0.4 dB</translation>
    </message>
    <message>
        <source>0,8 дБ</source>
        <translation>0.8 dB</translation>
    </message>
    <message>
        <source>1,4 дБ</source>
        <translation>1.4 dB</translation>
    </message>
    <message>
        <source>2,5 дБ</source>
        <translation>2.5 dB</translation>
    </message>
    <message>
        <source>4 дБ</source>
        <translation>4 dB</translation>
    </message>
    <message>
        <source>6 дБ</source>
        <translation>6 dB</translation>
    </message>
    <message>
        <source>7 дБ</source>
        <translation>7 dB</translation>
    </message>
    <message>
        <source>Дивиация частоты, МГц:</source>
        <translation>Frequency deviation, MHz:</translation>
    </message>
    <message>
        <source>Detector. Size Lock Data:</source>
        <translation>Detector. Size Lock Data:</translation>
    </message>
    <message>
        <source>Detector. Th_Coef_Min:</source>
        <translation>Detector. Th_Coef_Min:</translation>
    </message>
    <message>
        <source>Detector. Th_Coef_Max:</source>
        <translation>Detector. Th_Coef_Max:</translation>
    </message>
    <message>
        <source>Detector. Th_Coef_DC:</source>
        <translation>Detector. Th_Coef_DC:</translation>
    </message>
    <message>
        <source>Detector. Smth_Coef:</source>
        <translation>Detector. Smth_Coef:</translation>
    </message>
    <message>
        <source>Detector. MTI_Coef:</source>
        <translation>Detector. MTI_Coef:</translation>
    </message>
    <message>
        <source>Tracker. Smth_Coef:</source>
        <translation>Tracker. Smth_Coef:</translation>
    </message>
    <message>
        <source>Данные АЦП-I</source>
        <translation>ADC data I</translation>
    </message>
    <message>
        <source>Данные АЦП-Q</source>
        <translation>ADC data Q</translation>
    </message>
    <message>
        <source>Данные АЦП-IQ</source>
        <translation>ADC data IQ</translation>
    </message>
    <message>
        <source>Спектр</source>
        <translation>Spectrum</translation>
    </message>
    <message>
        <source>Интегратор</source>
        <translation>Integrator</translation>
    </message>
    <message>
        <source>нет связи с устройством</source>
        <translation>no connection to the device</translation>
    </message>
    <message>
        <source>измерение остановлено</source>
        <translation>measurement stopped</translation>
    </message>
    <message>
        <source>Отключить</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>Параметры (*.json)</source>
        <translation>Parameters (*.json)</translation>
    </message>
    <message>
        <source>Устройство не подключенно!</source>
        <translation>Device not connected!</translation>
    </message>
    <message>
        <source>Устройство занято, обмен параметрами отложите</source>
        <translation>The device is busy; exchange the parameters later</translation>
    </message>
    <message>
        <source>Сохранить параметры</source>
        <translation>Save parameters</translation>
    </message>
    <message>
        <source>Чтение параметров...</source>
        <translation>Reading parameters...</translation>
    </message>
    <message>
        <source>Параметры не сохранены: %1</source>
        <translation>Parameters not saved: %1</translation>
    </message>
    <message>
        <source>Параметры сохранены в %1</source>
        <translation>Parameters saved to %1</translation>
    </message>
    <message>
        <source>Загрузить параметры</source>
        <translation>Load parameters</translation>
    </message>
    <message>
        <source>Файл параметров отклонён: %1</source>
        <translation>Parameter file refused: %1</translation>
    </message>
    <message>
        <source>Загрузка параметров</source>
        <translation>Loading parameters</translation>
    </message>
    <message>
        <source>Параметры не загружены: %1</source>
        <translation>Parameters not loaded: %1</translation>
    </message>
    <message>
        <source>Запись параметров из файла...</source>
        <translation>Writing parameters from the file...</translation>
    </message>
    <message>
        <source>Не подтверждено: %1</source>
        <translation>Not confirmed: %1</translation>
    </message>
    <message>
        <source>Параметры записаны и проверены: %1</source>
        <translation>Parameters written and checked: %1</translation>
    </message>
    <message>
        <source>Параметры записаны с ошибками: не подтверждено %1 из %2</source>
        <translation>Parameters written with errors: %1 of %2 not confirmed</translation>
    </message>
    <message>
        <source>Высота: %1 (м)</source>
        <translation>Height: %1 (m)</translation>
    </message>
    <message>
        <source>Точек: 0</source>
        <translation>Points: 0</translation>
    </message>
    <message>
        <source>Точек: %1   среднее: %2 м   СКО: %3 м   мин: %4 м   макс: %5 м</source>
        <translation>Points: %1   mean: %2 m   SD: %3 m   min: %4 m   max: %5 m</translation>
    </message>
    <message>
        <source>остановлена пользователем</source>
        <translation>stopped by the user</translation>
    </message>
    <message>
        <source>Запись измерений</source>
        <translation>Recording measurements</translation>
    </message>
    <message>
        <source>CSV (*.csv)</source>
        <translation>CSV (*.csv)</translation>
    </message>
    <message>
        <source>Запись не начата: %1: %2</source>
        <translation>Recording not started: %1: %2</translation>
    </message>
    <message>
        <source>Запись измерений в %1</source>
        <translation>Recording measurements to %1</translation>
    </message>
    <message>
        <source>Запись остановлена (%1): %2 строк в %3</source>
        <translation>Recording stopped (%1): %2 rows in %3</translation>
    </message>
    <message>
        <source>Запись прервана: %1 (%2 строк в %3)</source>
        <translation>Recording broken off: %1 (%2 rows in %3)</translation>
    </message>
    <message>
        <source>Высота, м</source>
        <translation>Height, m</translation>
    </message>
    <message>
        <source>&amp;Файл</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>Сохранить параметры…</source>
        <translation>Save parameters…</translation>
    </message>
    <message>
        <source>Загрузить параметры…</source>
        <translation>Load parameters…</translation>
    </message>
    <message>
        <source>Язык</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>&amp;Устройство</source>
        <translation>&amp;Device</translation>
    </message>
    <message>
        <source>Подключить / отключить</source>
        <translation>Connect / disconnect</translation>
    </message>
    <message>
        <source>Обновить список портов</source>
        <translation>Refresh port list</translation>
    </message>
    <message>
        <source>Измерение: пуск / стоп</source>
        <translation>Measurement: start / stop</translation>
    </message>
    <message>
        <source>Запись измерений…</source>
        <translation>Record measurements…</translation>
    </message>
    <message>
        <source>Сбросить график и статистику</source>
        <translation>Reset curve and statistics</translation>
    </message>
    <message>
        <source>&amp;Журнал</source>
        <translation>&amp;Log</translation>
    </message>
    <message>
        <source>Сохранить журнал…</source>
        <translation>Save log…</translation>
    </message>
    <message>
        <source>Очистить журнал</source>
        <translation>Clear log</translation>
    </message>
    <message>
        <source>Сохранить журнал программирования…</source>
        <translation>Save programming log…</translation>
    </message>
    <message>
        <source>Очистить журнал программирования</source>
        <translation>Clear programming log</translation>
    </message>
    <message>
        <source>&amp;Справка</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>О программе</source>
        <translation>About</translation>
    </message>
    <message>
        <source>%1 %2
Конфигуратор радиовысотомера ZETRA (Modbus RTU, RS-485).</source>
        <translation>%1 %2
Configurator for the ZETRA radar altimeter (Modbus RTU, RS-485).</translation>
    </message>
    <message>
        <source>Язык окна сменится при следующем запуске программы.</source>
        <translation>The window will speak the new language from the next start of the program.</translation>
    </message>
    <message>
        <source>Сохранить журнал</source>
        <translation>Save log</translation>
    </message>
    <message>
        <source>Текст (*.txt)</source>
        <translation>Text (*.txt)</translation>
    </message>
    <message>
        <source>Журнал не сохранён: %1: %2</source>
        <translation>Log not saved: %1: %2</translation>
    </message>
    <message>
        <source>Журнал сохранён в %1</source>
        <translation>Log saved to %1</translation>
    </message>
    <message>
        <source>Файлы прошивки (*.bin *.ldr)</source>
        <translation>Firmware files (*.bin *.ldr)</translation>
    </message>
    <message>
        <source>Обновление ПО завершено</source>
        <translation>Firmware update finished</translation>
    </message>
    <message>
        <source>Обновление ПО прервано</source>
        <translation>Firmware update broken off</translation>
    </message>
    <message>
        <source>Время выполнения %1 мин %2 сек</source>
        <translation>Time taken %1 min %2 s</translation>
    </message>
    <message>
        <source>программа закрывается</source>
        <translation>the program is closing</translation>
    </message>
    <message>
        <source>Обновление ПО</source>
        <translation>Firmware update</translation>
    </message>
    <message>
        <source>Идёт обновление ПО. Если прервать его, устройство может остаться без рабочего ПО.
Прервать обновление и закрыть программу?</source>
        <translation>A firmware update is running. If it is interrupted, the device may be left without working firmware.
Interrupt the update and close the program?</translation>
    </message>
    <message>
        <source>Прервать и закрыть</source>
        <translation>Interrupt and close</translation>
    </message>
    <message>
        <source>Продолжить обновление</source>
        <translation>Continue the update</translation>
    </message>
    <message>
        <source>Остановка обновления ПО перед закрытием программы...</source>
        <translation>Stopping the firmware update before closing the program...</translation>
    </message>
    <message>
        <source>Тип протокола не выбран в списке: в устройство ничего не записано</source>
        <translation>No protocol type chosen in the list: nothing written to the device</translation>
    </message>
    <message>
        <source>Снижение мощности не выбрано в списке: в устройство ничего не записано</source>
        <translation>No power reduction chosen in the list: nothing written to the device</translation>
    </message>
    <message>
        <source>P-P = %1</source>
        <translation>P-P = %1</translation>
    </message>
    <message>
        <source>Нет данных для сохранения: прежние файлы не изменены</source>
        <translation>No data to save: the earlier files are unchanged</translation>
    </message>
    <message>
        <source>Данные сохранены</source>
        <translation>Data saved</translation>
    </message>
    <message>
        <source>Ошибка сохранения данных: %1</source>
        <translation>Saving the data failed: %1</translation>
    </message>
    <message>
        <source>вне пределов поля %1…%2</source>
        <translation>outside the field&apos;s range %1…%2</translation>
    </message>
    <message>
        <source>дробная часть отброшена</source>
        <translation>fraction dropped</translation>
    </message>
    <message>
        <source>округлено: знаков после запятой в поле %1</source>
        <translation>rounded: the field has %1 decimals</translation>
    </message>
    <message>
        <source>%1: в устройстве %2, поле показывает %3 (%4)</source>
        <translation>%1: the device holds %2, the field shows %3 (%4)</translation>
    </message>
    <message>
        <source>В устройстве %1; поле не может показать это значение</source>
        <translation>The device holds %1; the field cannot show that value</translation>
    </message>
    <message>
        <source>Запись параметра</source>
        <translation>Writing a parameter</translation>
    </message>
    <message>
        <source>%1: в устройстве %2, поле показывает %3.
Записать в устройство %3?</source>
        <translation>%1: the device holds %2, the field shows %3.
Write %3 into the device?</translation>
    </message>
    <message>
        <source>%1: не записано</source>
        <translation>%1: not written</translation>
    </message>
    <message>
        <source>Файл прошивки:</source>
        <translation>Firmware file:</translation>
    </message>
    <message>
        <source>Журнал программирования:</source>
        <translation>Programming log:</translation>
    </message>
    <message>
        <source>Запись не начата: устройство не подключено</source>
        <translation>Recording not started: device not connected</translation>
    </message>
    <message>
        <source>Измерение запущено для записи</source>
        <translation>Measurement started for the recording</translation>
    </message>
    <message>
        <source>Удалить из журнала все строки (%1)? Несохранённые строки будут потеряны.</source>
        <translation>Delete all lines (%1) from the log? Lines not saved will be lost.</translation>
    </message>
    <message>
        <source>не прочитана (%1)</source>
        <translation>not read (%1)</translation>
    </message>
    <message>
        <source>Текущее ПО устройства будет стёрто и заменено.

Файл: %1
Размер: %2 байт
Версия ПО устройства: %3

Обновить ПО?</source>
        <translation>The device&apos;s current firmware will be erased and replaced.

File: %1
Size: %2 bytes
Device firmware revision: %3

Update the firmware?</translation>
    </message>
    <message>
        <source>пустая</source>
        <translation>empty</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>● Запись: %1 строк, %2:%3</source>
        <translation>● Recording: %1 rows, %2:%3</translation>
    </message>
    <message>
        <source>%1: записано %2, прочитано %3</source>
        <translation>%1: wrote %2, read back %3</translation>
    </message>
    <message>
        <source>%1: не подтверждён (%2)</source>
        <translation>%1: not confirmed (%2)</translation>
    </message>
    <message>
        <source>Сохранить кадры линии</source>
        <translation>Save line frames</translation>
    </message>
    <message>
        <source>тайм-аут</source>
        <translation>time-out</translation>
    </message>
    <message>
        <source>CRC</source>
        <translation>CRC</translation>
    </message>
    <message>
        <source>отказ</source>
        <translation>refused</translation>
    </message>
    <message>
        <source>посторонние</source>
        <translation>stray</translation>
    </message>
    <message>
        <source>опоздавшие</source>
        <translation>late</translation>
    </message>
    <message>
        <source>порт</source>
        <translation>port</translation>
    </message>
    <message>
        <source>Линия: запросов %1, ответов %2; сбои: %3</source>
        <translation>Line: %1 requests, %2 answers; failures: %3</translation>
    </message>
    <message>
        <source>нет</source>
        <translation>none</translation>
    </message>
    <message>
        <source>; цикл %1 мс</source>
        <translation>; round-trip %1 ms</translation>
    </message>
    <message>
        <source>Монитор линии</source>
        <translation>Line monitor</translation>
    </message>
    <message>
        <source>Устройство осталось без полной прошивки: подключитесь заново и повторите обновление ПО</source>
        <translation>The unit holds no complete firmware: connect again and repeat the firmware update</translation>
    </message>
    <message>
        <source>%1: в устройстве %2, в списке поля такого значения нет (%3…%4)</source>
        <translation>%1: the device holds %2, which the field&apos;s list does not offer (%3…%4)</translation>
    </message>
    <message>
        <source>%1: записано %2, прочитано %3 — устройство не приняло значение</source>
        <translation>%1: wrote %2, read back %3 — the device did not take the value</translation>
    </message>
    <message>
        <source>%1: записано %2, не прочитано (%3)</source>
        <translation>%1: wrote %2, not read back (%3)</translation>
    </message>
    <message>
        <source>%1: в списке ничего не выбрано, в устройство ничего не записано</source>
        <translation>%1: nothing chosen in the list, nothing written to the device</translation>
    </message>
    <message>
        <source>История изделия…</source>
        <translation>Unit history…</translation>
    </message>
    <message>
        <source>Журнал изделий…</source>
        <translation>Unit records…</translation>
    </message>
    <message>
        <source>Рецепт</source>
        <translation>Recipe</translation>
    </message>
    <message>
        <source>Рецепты (*.json);;Все файлы (*)</source>
        <translation>Recipes (*.json);;All files (*)</translation>
    </message>
    <message>
        <source>Серийный №</source>
        <translation>Serial no.</translation>
    </message>
    <message>
        <source>для истории изделия</source>
        <translation>for the unit&apos;s history</translation>
    </message>
    <message>
        <source>История</source>
        <translation>History</translation>
    </message>
    <message>
        <source>История изделия %1 недоступна: %2</source>
        <translation>The history of unit %1 is unavailable: %2</translation>
    </message>
    <message>
        <source>Изделие %1: в журнале изделий записей нет</source>
        <translation>Unit %1: no runs in the unit records</translation>
    </message>
    <message>
        <source>Изделие %1: записей в журнале %2, последняя %3 — %4, прошивка %5</source>
        <translation>Unit %1: %2 runs in the records, the last %3 — %4, firmware %5</translation>
    </message>
    <message>
        <source>Экспорт журнала изделий</source>
        <translation>Export the unit records</translation>
    </message>
    <message>
        <source>Хранилище записей…</source>
        <translation>Records storage…</translation>
    </message>
    <message>
        <source>Хранилище записей</source>
        <translation>Records storage</translation>
    </message>
    <message>
        <source>Файл SQLite или сервер postgresql://пользователь@хост/база
(пусто: файл в папке данных пользователя)</source>
        <translation>An SQLite file or a server postgresql://user@host/database
(empty: the file in the user&apos;s data folder)</translation>
    </message>
    <message>
        <source>Записи изделий: %1</source>
        <translation>Unit records: %1</translation>
    </message>
</context>
<context>
    <name>ParameterChangesDialog</name>
    <message>
        <source>Загрузка параметров</source>
        <translation>Loading parameters</translation>
    </message>
    <message>
        <source>Параметр</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>В устройстве</source>
        <translation>In the device</translation>
    </message>
    <message>
        <source>В файле</source>
        <translation>In the file</translation>
    </message>
    <message>
        <source>не указана</source>
        <translation>not given</translation>
    </message>
    <message>
        <source>Файл: %1
Версия ПО: %2, сохранён: %3
Изменится параметров: %4 из %5</source>
        <translation>File: %1
Firmware revision: %2, saved: %3
Parameters to change: %4 of %5</translation>
    </message>
    <message>
        <source>Записать</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Устройство уже хранит значения файла: записывать нечего.</source>
        <translation>The device already holds the file&apos;s values: nothing to write.</translation>
    </message>
    <message>
        <source>Закрыть</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Параметры записаны и проверены: %1.</source>
        <translation>Parameters written and checked: %1.</translation>
    </message>
    <message>
        <source>Параметры записаны с ошибками: не подтверждено %1 из %2.
%3</source>
        <translation>Parameters written with errors: %1 of %2 not confirmed.
%3</translation>
    </message>
    <message>
        <source>Записанные значения действуют до выключения питания. Сохранить их в ПЗУ устройства?</source>
        <translation>The written values last until the power is switched off. Save them to the device&apos;s ROM?</translation>
    </message>
    <message>
        <source>Сохранить в ПЗУ</source>
        <translation>Save to ROM</translation>
    </message>
    <message>
        <source>Не сохранять</source>
        <translation>Don&apos;t save</translation>
    </message>
</context>
<context>
    <name>RecordsBrowser</name>
    <message>
        <source>Журнал изделий</source>
        <translation>Unit records</translation>
    </message>
    <message>
        <source>Серийный №</source>
        <translation>Serial no.</translation>
    </message>
    <message>
        <source>все изделия</source>
        <translation>every unit</translation>
    </message>
    <message>
        <source>Итог</source>
        <translation>Outcome</translation>
    </message>
    <message>
        <source>любой</source>
        <translation>any</translation>
    </message>
    <message>
        <source>с</source>
        <translation>from</translation>
    </message>
    <message>
        <source>по</source>
        <translation>to</translation>
    </message>
    <message>
        <source>Найти</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>Экспорт в CSV…</source>
        <translation>Export to CSV…</translation>
    </message>
    <message>
        <source>Начало</source>
        <translation>Started</translation>
    </message>
    <message>
        <source>Почему</source>
        <translation>Why</translation>
    </message>
    <message>
        <source>Станция</source>
        <translation>Station</translation>
    </message>
    <message>
        <source>Порт</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Рецепт</source>
        <translation>Recipe</translation>
    </message>
    <message>
        <source>Прошивка до</source>
        <translation>Firmware before</translation>
    </message>
    <message>
        <source>Прошивка после</source>
        <translation>Firmware after</translation>
    </message>
    <message>
        <source>Шаг</source>
        <translation>Step</translation>
    </message>
    <message>
        <source>Значения и пределы</source>
        <translation>Values and limits</translation>
    </message>
    <message>
        <source>Причина</source>
        <translation>Reason</translation>
    </message>
    <message>
        <source>Длительность, с</source>
        <translation>Duration, s</translation>
    </message>
    <message>
        <source>Записей выгружено: %1 → %2</source>
        <translation>Runs exported: %1 → %2</translation>
    </message>
    <message>
        <source>Не удалось записать %1: %2</source>
        <translation>Could not write %1: %2</translation>
    </message>
    <message>
        <source>Журнал изделий не открывается (%1): %2</source>
        <translation>The unit records cannot be opened (%1): %2</translation>
    </message>
    <message>
        <source>Найдено записей: %1</source>
        <translation>Runs found: %1</translation>
    </message>
    <message>
        <source>Поиск в журнале изделий…</source>
        <translation>Searching the unit records…</translation>
    </message>
    <message>
        <source>Ошибка чтения: %1</source>
        <translation>Read error: %1</translation>
    </message>
    <message>
        <source>Сервер записей недоступен (%1): показаны записи этой станции из %2</source>
        <translation>The record server cannot be reached (%1): showing this station&apos;s runs from %2</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Выгрузка в %1…</source>
        <translation>Exporting to %1…</translation>
    </message>
    <message>
        <source>Выгрузка отменена: %1 не изменён</source>
        <translation>Export cancelled: %1 left unchanged</translation>
    </message>
    <message>
        <source>Выгружено %1 из %2</source>
        <translation>Exported %1 of %2</translation>
    </message>
</context>
<context>
    <name>SerialTop</name>
    <message>
        <source>Serial port initialized</source>
        <translation>Serial port initialized</translation>
    </message>
    <message>
        <source>Подключение...</source>
        <translation>Connecting...</translation>
    </message>
    <message>
        <source>Ошибка подключения к порту</source>
        <translation>Could not connect to the port</translation>
    </message>
    <message>
        <source>Устройство подключено</source>
        <translation>Device connected</translation>
    </message>
    <message>
        <source>Ошибка подключения</source>
        <translation>Connection failed</translation>
    </message>
    <message>
        <source>Отключение...</source>
        <translation>Disconnecting...</translation>
    </message>
    <message>
        <source>Порт закрыт</source>
        <translation>Port closed</translation>
    </message>
    <message>
        <source>Порт %1 не найден: %2</source>
        <translation>Port %1 not found: %2</translation>
    </message>
    <message>
        <source>Нет прав на доступ к порту %1: %2. Добавьте пользователя в группу %3, которой принадлежит устройство (sudo usermod -aG %3 $USER), и войдите в систему заново</source>
        <translation>No permission to open port %1: %2. Add the user to group %3, which owns the device (sudo usermod -aG %3 $USER), and log in again</translation>
    </message>
    <message>
        <source>Порт %1 уже открыт другой программой: %2</source>
        <translation>Port %1 is already open in another program: %2</translation>
    </message>
    <message>
        <source>Не удалось открыть порт %1: %2</source>
        <translation>Could not open port %1: %2</translation>
    </message>
    <message>
        <source>_getAnswerSize_Byte: Неизвестный код функции</source>
        <translation>_getAnswerSize_Byte: unknown function code</translation>
    </message>
    <message>
        <source>функция %1</source>
        <translation>function %1</translation>
    </message>
    <message>
        <source>, регистр %1</source>
        <translation>, register %1</translation>
    </message>
    <message>
        <source>, катушка %1</source>
        <translation>, coil %1</translation>
    </message>
    <message>
        <source>Устройство отклонило запрос (%1): код %2%3</source>
        <translation>The device refused the request (%1): code %2%3</translation>
    </message>
    <message>
        <source>Устройство не подключенно!</source>
        <translation>Device not connected!</translation>
    </message>
    <message>
        <source>Получение текущей версии ПО...</source>
        <translation>Reading the current firmware revision...</translation>
    </message>
    <message>
        <source>Запуск самодиагностики....</source>
        <translation>Starting the self-test...</translation>
    </message>
    <message>
        <source>Чтение данных.</source>
        <translation>Reading data.</translation>
    </message>
    <message>
        <source>Данные считаны</source>
        <translation>Data read</translation>
    </message>
    <message>
        <source>Нет ответа от устройства!</source>
        <translation>No answer from the device!</translation>
    </message>
    <message>
        <source>ошибка! %1</source>
        <translation>error! %1</translation>
    </message>
    <message>
        <source>ОК</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Файл прошивки &quot;%1&quot;</source>
        <translation>Firmware file &quot;%1&quot;</translation>
    </message>
    <message>
        <source>Ошибка! Указанный файл не существует</source>
        <translation>Error! The file does not exist</translation>
    </message>
    <message>
        <source>Размер %1 байт</source>
        <translation>Size %1 bytes</translation>
    </message>
    <message>
        <source>Изменен %1 %2</source>
        <translation>Modified %1 %2</translation>
    </message>
    <message>
        <source>Некорректный файл</source>
        <translation>Invalid file</translation>
    </message>
    <message>
        <source>Размер файла превышает максимально допустимый</source>
        <translation>The file is larger than the largest allowed</translation>
    </message>
    <message>
        <source>Некорректная контрольная сумма файла</source>
        <translation>Wrong file checksum</translation>
    </message>
    <message>
        <source>Обновление ПО уже выполняется, повторный запуск отклонён</source>
        <translation>A firmware update is already running; the second start is refused</translation>
    </message>
    <message>
        <source>Обновление ПО</source>
        <translation>Firmware update</translation>
    </message>
    <message>
        <source>Проверка данных файла... </source>
        <translation>Checking the file data... </translation>
    </message>
    <message>
        <source>Невозможно открыть указанный файл для чтения</source>
        <translation>Cannot open the file for reading</translation>
    </message>
    <message>
        <source>Ошибка чтения файла прошивки</source>
        <translation>Error reading the firmware file</translation>
    </message>
    <message>
        <source>Получение текущей версии ПО... </source>
        <translation>Reading the current firmware revision... </translation>
    </message>
    <message>
        <source>Перевод устройства в режим программирования... </source>
        <translation>Switching the device to programming mode... </translation>
    </message>
    <message>
        <source>Проверка доступа и ID микросхемы FLASH... </source>
        <translation>Checking access to the FLASH chip and its ID... </translation>
    </message>
    <message>
        <source>Ошибка чтения ID Flash</source>
        <translation>Error reading the Flash ID</translation>
    </message>
    <message>
        <source>Cтирание текущего ПО... </source>
        <translation>Erasing the current firmware... </translation>
    </message>
    <message>
        <source>Ошибка стирания Flash. Timeout</source>
        <translation>Flash erase failed. Timeout</translation>
    </message>
    <message>
        <source>Программирование... </source>
        <translation>Programming... </translation>
    </message>
    <message>
        <source>Обновление ПО прервано по запросу</source>
        <translation>Firmware update interrupted on request</translation>
    </message>
    <message>
        <source>Запись флага прошивки... </source>
        <translation>Writing the firmware flag... </translation>
    </message>
    <message>
        <source>Очередь команд переполнена, команда отброшена</source>
        <translation>Command queue full, command dropped</translation>
    </message>
    <message>
        <source>Порт не открыт, команда не отправлена</source>
        <translation>Port not open, command not sent</translation>
    </message>
    <message>
        <source>Нет ответа от устройства</source>
        <translation>No answer from the device</translation>
    </message>
    <message>
        <source>  %1</source>
        <translation>  %1</translation>
    </message>
    <message>
        <source>Изделие исправно</source>
        <translation>The unit is healthy</translation>
    </message>
    <message>
        <source>Изделие НЕисправно</source>
        <translation>The unit is FAULTY</translation>
    </message>
    <message>
        <source>Установка типа модуляции - FMCW...</source>
        <translation>Setting the modulation type to FMCW...</translation>
    </message>
    <message>
        <source>Установка типа модуляции - CW...</source>
        <translation>Setting the modulation type to CW...</translation>
    </message>
    <message>
        <source>Сохранение настроек в Flash...</source>
        <translation>Saving the settings to Flash...</translation>
    </message>
    <message>
        <source>записано %1, прочитано %2</source>
        <translation>wrote %1, read back %2</translation>
    </message>
    <message>
        <source>прервано по запросу</source>
        <translation>interrupted on request</translation>
    </message>
    <message>
        <source>Поздний ответ отброшен: %1 байт</source>
        <translation>Late answer dropped: %1 bytes</translation>
    </message>
    <message>
        <source>Нет прав на доступ к порту %1: %2. Порт открыт только для root: отдайте его группе dialout правилом udev (%3 в файле /etc/udev/rules.d/), добавьте пользователя в эту группу (sudo usermod -aG dialout $USER) и войдите в систему заново</source>
        <translation>No permission to open port %1: %2. The port is open to root alone: hand it to group dialout with a udev rule (%3 in /etc/udev/rules.d/), add the user to that group (sudo usermod -aG dialout $USER), and log in again</translation>
    </message>
    <message>
        <source>Соединение с портом %1 потеряно: адаптер отключён или порт закрыт</source>
        <translation>Connection to port %1 lost: the adapter was unplugged or the port closed</translation>
    </message>
    <message>
        <source>Соединение с портом %1 потеряно: адаптер отключён или порт закрыт (%2)</source>
        <translation>Connection to port %1 lost: the adapter was unplugged or the port closed (%2)</translation>
    </message>
    <message>
        <source>недопустимая функция</source>
        <translation>illegal function</translation>
    </message>
    <message>
        <source>недопустимый адрес</source>
        <translation>illegal data address</translation>
    </message>
    <message>
        <source>недопустимое значение</source>
        <translation>illegal data value</translation>
    </message>
    <message>
        <source>сбой устройства</source>
        <translation>device failure</translation>
    </message>
    <message>
        <source>устройство занято</source>
        <translation>device busy</translation>
    </message>
</context>
<context>
    <name>StationTile</name>
    <message>
        <source>Место %1</source>
        <translation>Place %1</translation>
    </message>
    <message>
        <source>Порт</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Серийный №</source>
        <translation>Serial no.</translation>
    </message>
    <message>
        <source>сканируйте код</source>
        <translation>scan the code</translation>
    </message>
    <message>
        <source>Пуск</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Изделие %1</source>
        <translation>Unit %1</translation>
    </message>
    <message>
        <source>Шаг %1 из %2: %3</source>
        <translation>Step %1 of %2: %3</translation>
    </message>
    <message>
        <source>Все шаги пройдены</source>
        <translation>Every step passed</translation>
    </message>
    <message>
        <source>Запись в журнал прервана: %1</source>
        <translation>Recording stopped: %1</translation>
    </message>
    <message>
        <source>Остановлен на шаге: %1</source>
        <translation>Stopped at step: %1</translation>
    </message>
</context>
<context>
    <name>StationView</name>
    <message>
        <source>Рецепт…</source>
        <translation>Recipe…</translation>
    </message>
    <message>
        <source>рецепт не выбран</source>
        <translation>no recipe chosen</translation>
    </message>
    <message>
        <source>Мест</source>
        <translation>Places</translation>
    </message>
    <message>
        <source>Пуск всех</source>
        <translation>Start all</translation>
    </message>
    <message>
        <source>Стоп</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Журнал изделий не открывается (%1): %2</source>
        <translation>The unit records cannot be opened (%1): %2</translation>
    </message>
    <message>
        <source>Рецепт меняется, когда ни одно изделие не проверяется.</source>
        <translation>The recipe can be changed only while no unit is being tested.</translation>
    </message>
    <message>
        <source>Рецепт %1 не принят: %2</source>
        <translation>Recipe %1 refused: %2</translation>
    </message>
    <message>
        <source>SHA-256 %1…</source>
        <translation>SHA-256 %1…</translation>
    </message>
    <message>
        <source>Нет мест с портом и серийным номером.</source>
        <translation>No place has both a port and a serial number.</translation>
    </message>
    <message>
        <source>Сначала выберите рецепт.</source>
        <translation>Choose a recipe first.</translation>
    </message>
    <message>
        <source>Место %1: нужны порт и серийный номер.</source>
        <translation>Place %1: a port and a serial number are needed.</translation>
    </message>
    <message>
        <source>Место %1: порт %2 уже занят.</source>
        <translation>Place %1: port %2 is already in use.</translation>
    </message>
    <message>
        <source>Место %1: изделие %2 уже проверяется.</source>
        <translation>Place %1: unit %2 is already being tested.</translation>
    </message>
    <message>
        <source>Сервер записей недоступен (%1): записи хранятся в %2 и будут отправлены, когда он вернётся</source>
        <translation>The record server cannot be reached (%1): runs are kept in %2 and sent when it is back</translation>
    </message>
    <message>
        <source>Записей ждут отправки на сервер: %1</source>
        <translation>Runs waiting to be sent to the server: %1</translation>
    </message>
</context>
<context>
    <name>StationWording</name>
    <message>
        <source>прошивка</source>
        <translation>firmware update</translation>
    </message>
    <message>
        <source>запись параметров</source>
        <translation>parameters</translation>
    </message>
    <message>
        <source>сохранение во флэш</source>
        <translation>save to flash</translation>
    </message>
    <message>
        <source>самопроверка</source>
        <translation>self-test</translation>
    </message>
    <message>
        <source>измерение</source>
        <translation>measurement</translation>
    </message>
    <message>
        <source>проверка параметров</source>
        <translation>parameter check</translation>
    </message>
    <message>
        <source>подключение</source>
        <translation>connecting</translation>
    </message>
    <message>
        <source>чтение после шагов</source>
        <translation>reading back</translation>
    </message>
    <message>
        <source>ГОДЕН</source>
        <translation>PASS</translation>
    </message>
    <message>
        <source>БРАК</source>
        <translation>FAIL</translation>
    </message>
    <message>
        <source>ОШИБКА</source>
        <translation>ERROR</translation>
    </message>
    <message>
        <source>ПРЕРВАНО</source>
        <translation>STOPPED</translation>
    </message>
    <message>
        <source>идёт</source>
        <translation>running</translation>
    </message>
    <message>
        <source>ключа нет</source>
        <translation>the key is missing</translation>
    </message>
    <message>
        <source>логическое значение</source>
        <translation>a boolean</translation>
    </message>
    <message>
        <source>число</source>
        <translation>a number</translation>
    </message>
    <message>
        <source>пустая строка</source>
        <translation>an empty string</translation>
    </message>
    <message>
        <source>строка</source>
        <translation>a string</translation>
    </message>
    <message>
        <source>пустой список</source>
        <translation>an empty list</translation>
    </message>
    <message>
        <source>список, элементов: %1</source>
        <translation>a list of %1 elements</translation>
    </message>
    <message>
        <source>пустой объект</source>
        <translation>an empty object</translation>
    </message>
    <message>
        <source>объект</source>
        <translation>an object</translation>
    </message>
    <message>
        <source>ожидалась непустая строка</source>
        <translation>expected a non-empty string</translation>
    </message>
    <message>
        <source>ожидался непустой список шагов</source>
        <translation>expected a non-empty list of steps</translation>
    </message>
    <message>
        <source>ожидался объект шага</source>
        <translation>expected a step object</translation>
    </message>
    <message>
        <source>ожидался объект с именами и значениями параметров</source>
        <translation>expected an object of parameter names and values</translation>
    </message>
    <message>
        <source>ожидалось число</source>
        <translation>expected a number</translation>
    </message>
    <message>
        <source>это папка, а не файл</source>
        <translation>it is a folder, not a file</translation>
    </message>
    <message>
        <source>файл не читается: %1</source>
        <translation>the file cannot be read: %1</translation>
    </message>
    <message>
        <source>строка %1, столбец %2: ошибка JSON: %3</source>
        <translation>line %1, column %2: JSON error: %3</translation>
    </message>
    <message>
        <source>ожидался объект JSON с ключами «name» и «steps»</source>
        <translation>expected a JSON object with &quot;name&quot; and &quot;steps&quot;</translation>
    </message>
    <message>
        <source>неизвестный ключ «%1» (допустимы: %2)</source>
        <translation>unknown key &quot;%1&quot; (allowed: %2)</translation>
    </message>
    <message>
        <source>%1, найдено: %2</source>
        <translation>%1, found %2</translation>
    </message>
    <message>
        <source>параметр «%1»: %2</source>
        <translation>parameter &quot;%1&quot;: %2</translation>
    </message>
    <message>
        <source>не указан «step» (один из: %1)</source>
        <translation>no &quot;step&quot; given (one of %1)</translation>
    </message>
    <message>
        <source>неизвестный шаг «%1» (один из: %2)</source>
        <translation>unknown step &quot;%1&quot; (one of %2)</translation>
    </message>
    <message>
        <source>нужны границы [нижняя, верхняя]</source>
        <translation>limits [low, high] are required</translation>
    </message>
    <message>
        <source>ожидались границы [нижняя, верхняя], два числа, найдено: %1</source>
        <translation>expected limits [low, high], two numbers, found %1</translation>
    </message>
    <message>
        <source>границы должны быть конечными числами</source>
        <translation>the limits must be finite numbers</translation>
    </message>
    <message>
        <source>нижняя граница %1 выше верхней %2</source>
        <translation>the low limit %1 is above the high limit %2</translation>
    </message>
    <message>
        <source>границы — количества, целые числа от 0</source>
        <translation>the limits are counts, whole numbers from 0</translation>
    </message>
    <message>
        <source>имя файла содержит символ NUL</source>
        <translation>the file name holds a NUL character</translation>
    </message>
    <message>
        <source>%1 — папка, а не файл прошивки</source>
        <translation>%1 is a folder, not a firmware file</translation>
    </message>
    <message>
        <source>файл прошивки %1 не читается: %2</source>
        <translation>the firmware file %1 cannot be read: %2</translation>
    </message>
    <message>
        <source>файл прошивки %1 занимает %2 байт, больше %3, которые принимает прибор</source>
        <translation>the firmware file %1 is %2 bytes, more than the %3 a device takes</translation>
    </message>
    <message>
        <source>файл прошивки %1 не проходит проверку (длина или контрольная сумма)</source>
        <translation>the firmware file %1 fails its check (length or checksum)</translation>
    </message>
    <message>
        <source>нужно указать либо «values», либо «file»</source>
        <translation>give either &quot;values&quot; or &quot;file&quot;</translation>
    </message>
    <message>
        <source>файл параметров %1 не принят: %2</source>
        <translation>the parameter file %1 is refused: %2</translation>
    </message>
    <message>
        <source>неизвестный параметр «%1»</source>
        <translation>unknown parameter &quot;%1&quot;</translation>
    </message>
    <message>
        <source>ожидалось число секунд больше 0 и не больше %1</source>
        <translation>expected a number of seconds above 0 and at most %1</translation>
    </message>
    <message>
        <source>сравнивать не с чем: до этого шага нет шага «parameters»</source>
        <translation>nothing to compare: no &quot;parameters&quot; step comes before this one</translation>
    </message>
    <message>
        <source>шаг %1 (%2)</source>
        <translation>step %1 (%2)</translation>
    </message>
    <message>
        <source>шаг %1</source>
        <translation>step %1</translation>
    </message>
    <message>
        <source>«%1»</source>
        <translation>&quot;%1&quot;</translation>
    </message>
    <message>
        <source>среднее</source>
        <translation>mean</translation>
    </message>
    <message>
        <source>СКО</source>
        <translation>standard deviation</translation>
    </message>
    <message>
        <source>минимум</source>
        <translation>minimum</translation>
    </message>
    <message>
        <source>максимум</source>
        <translation>maximum</translation>
    </message>
    <message>
        <source>измерений</source>
        <translation>readings</translation>
    </message>
    <message>
        <source>пропущено</source>
        <translation>missed</translation>
    </message>
    <message>
        <source>расстояние</source>
        <translation>distance</translation>
    </message>
    <message>
        <source>байт записано</source>
        <translation>bytes written</translation>
    </message>
    <message>
        <source>версия ПО</source>
        <translation>firmware revision</translation>
    </message>
    <message>
        <source>исправен</source>
        <translation>healthy</translation>
    </message>
    <message>
        <source>неисправен</source>
        <translation>faulty</translation>
    </message>
    <message>
        <source>чтение файла прошивки</source>
        <translation>reading the firmware file</translation>
    </message>
    <message>
        <source>проверка образа прошивки</source>
        <translation>checking the firmware image</translation>
    </message>
    <message>
        <source>чтение версии ПО</source>
        <translation>reading the firmware revision</translation>
    </message>
    <message>
        <source>переход в режим программирования</source>
        <translation>entering programming mode</translation>
    </message>
    <message>
        <source>проверка флэш-памяти</source>
        <translation>checking the flash</translation>
    </message>
    <message>
        <source>стирание флэш-памяти</source>
        <translation>erasing the flash</translation>
    </message>
    <message>
        <source>запись блока 0x%1</source>
        <translation>writing the block at 0x%1</translation>
    </message>
    <message>
        <source>запись флага прошивки</source>
        <translation>writing the firmware flag</translation>
    </message>
    <message>
        <source>; в изделии нет полной прошивки, пока обновление не пройдёт до конца</source>
        <translation>; the unit holds no complete firmware until an update runs to the end</translation>
    </message>
    <message>
        <source>, запросов подряд: %1</source>
        <translation>, %1 requests in a row</translation>
    </message>
    <message>
        <source>%1 = %2 вне допуска (%3 … %4)</source>
        <translation>%1 = %2 outside the limits (%3 … %4)</translation>
    </message>
    <message>
        <source>устройство сообщает о сбое</source>
        <translation>the device reports a failure</translation>
    </message>
    <message>
        <source>порт %1 не найден: адаптер не подключён?</source>
        <translation>port %1 not found: is the adapter plugged in?</translation>
    </message>
    <message>
        <source>нет прав на доступ к порту %1</source>
        <translation>no permission to open port %1</translation>
    </message>
    <message>
        <source>порт %1 уже открыт другой программой</source>
        <translation>port %1 is in use by another program</translation>
    </message>
    <message>
        <source>не удалось открыть порт %1</source>
        <translation>port %1 could not be opened</translation>
    </message>
    <message>
        <source>не получено ни одного значения: %1</source>
        <translation>no value came back: %1</translation>
    </message>
    <message>
        <source>подключение не завершилось вовремя</source>
        <translation>connecting did not finish in time</translation>
    </message>
    <message>
        <source>чтение параметров не завершилось вовремя</source>
        <translation>reading the parameters did not finish in time</translation>
    </message>
    <message>
        <source>устройство не завершило шаг вовремя</source>
        <translation>the device did not finish the step in time</translation>
    </message>
    <message>
        <source>остановлено сигналом</source>
        <translation>stopped by a signal</translation>
    </message>
    <message>
        <source>остановлено оператором</source>
        <translation>stopped by the operator</translation>
    </message>
    <message>
        <source>станция остановилась до конца прогона: программа была завершена или пропало питание</source>
        <translation>the station stopped before the run ended: the program was ended or lost power</translation>
    </message>
    <message>
        <source>запись в журнал изделий не удалась</source>
        <translation>the record could not be written</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Configurator for the ZETRA radar altimeter (Modbus RTU over RS-485).</source>
        <translation>Configurator for the ZETRA radar altimeter (Modbus RTU over RS-485).</translation>
    </message>
    <message>
        <source>Select serial port NAME (added to the list if the system does not list it).</source>
        <translation>Select serial port NAME (added to the list if the system does not list it).</translation>
    </message>
    <message>
        <source>Connect to the device once the window is up.</source>
        <translation>Connect to the device once the window is up.</translation>
    </message>
    <message>
        <source>For documentation: save a PNG picture of the window to PATH a moment after start-up (and after connecting, with --connect), then quit.</source>
        <translation>For documentation: save a PNG picture of the window to PATH a moment after start-up (and after connecting, with --connect), then quit.</translation>
    </message>
    <message>
        <source>Window language LANG: ru or en (default: the one last chosen in the menu, else the system&apos;s).</source>
        <translation>Window language LANG: ru or en (default: the one last chosen in the menu, else the system&apos;s).</translation>
    </message>
</context>
</TS>
