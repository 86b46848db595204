<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru" sourcelanguage="en">
<context>
    <name>DeviceParameters</name>
    <message>
        <source>%1: %2 is not a finite number</source>
        <translation>%1: %2 не является конечным числом</translation>
    </message>
    <message>
        <source>%1: %2 does not fit an unsigned 16-bit register (a whole number from 0 to 65535)</source>
        <translation>%1: %2 не помещается в 16-битный регистр без знака (целое число от 0 до 65535)</translation>
    </message>
    <message>
        <source>%1: %2 is beyond the range of a float</source>
        <translation>%1: %2 вне диапазона числа float</translation>
    </message>
    <message>
        <source>%1: &apos;%2&apos; is not a whole number from 0 to 65535</source>
        <translation>%1: «%2» не является целым числом от 0 до 65535</translation>
    </message>
    <message>
        <source>%1: &apos;%2&apos; is not a number</source>
        <translation>%1: «%2» не является числом</translation>
    </message>
    <message>
        <source>cannot write %1: %2</source>
        <translation>не удалось записать %1: %2</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>не удалось прочитать %1: %2</translation>
    </message>
    <message>
        <source>%1 is too large to be a parameter backup</source>
        <translation>%1 слишком велик для файла параметров</translation>
    </message>
    <message>
        <source>%1 is not valid JSON (offset %2: %3)</source>
        <translation>%1 не является корректным JSON (позиция %2: %3)</translation>
    </message>
    <message>
        <source>%1 is not a parameter backup: no JSON object at the top</source>
        <translation>%1 не является файлом параметров: нет объекта JSON верхнего уровня</translation>
    </message>
    <message>
        <source>%1 is not a parameter backup: format is not &quot;%2&quot;</source>
        <translation>%1 не является файлом параметров: формат не «%2»</translation>
    </message>
    <message>
        <source>none</source>
        <translation>нет</translation>
    </message>
    <message>
        <source>%1 has backup version %2; this program reads version %3</source>
        <translation>у %1 версия файла параметров %2; программа читает версию %3</translation>
    </message>
    <message>
        <source>%1: &quot;revision&quot; and &quot;saved&quot; must be text</source>
        <translation>%1: «revision» и «saved» должны быть текстом</translation>
    </message>
    <message>
        <source>%1 holds no &quot;parameters&quot; object with values</source>
        <translation>в %1 нет объекта «parameters» со значениями</translation>
    </message>
    <message>
        <source>%1 has unknown parameter names: %2</source>
        <translation>в %1 неизвестные имена параметров: %2</translation>
    </message>
    <message>
        <source>%1: the value of %2 is not a number</source>
        <translation>%1: значение %2 не является числом</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
</context>
</TS>
