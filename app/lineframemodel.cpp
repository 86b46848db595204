#include "lineframemodel.h"

#include "serialtop.h"

#include "frametext.h"
#include "modbuscodec.h"
#include "registermap.h"

#include <QBrush>
#include <QColor>
#include <QFontDatabase>

#include <utility>

namespace {

QString range(const LineFrame &frame)
{
    return frame.count > 1 ? QStringLiteral("%1–%2").arg(frame.first).arg(frame.first + frame.count - 1)
                           : QString::number(frame.first);
}

QString block(const LineFrame &frame)
{
    return QStringLiteral("@0x%1, %2 байт").arg(frame.blockAddress, 8, 16, QLatin1Char('0')).arg(frame.blockSize);
}

} // namespace

LineFrameModel::LineFrameModel(QObject *parent)
    : QAbstractTableModel(parent)
    , bytesFont(QFontDatabase::systemFont(QFontDatabase::FixedFont))
{
}

int LineFrameModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(frames.size());
}

int LineFrameModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString LineFrameModel::bytesInCell(const LineFrame &frame)
{
    if (frame.bytes.size() <= kBytesInCell)
        return FrameText::hex(frame.bytes);
    return FrameText::hex(frame.bytes.left(kBytesInCell)) + QStringLiteral(" …");
}

QVariant LineFrameModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Time: return tr("Время, мс");
    case Direction: return tr("Направление");
    case Bytes: return tr("Байты");
    case Meaning: return tr("Смысл");
    case RoundTrip: return tr("Цикл, мс");
    case Status: return tr("Состояние");
    default: return QVariant();
    }
}

QVariant LineFrameModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    // Worded only when shown, so an unseen frame costs nothing but its bytes.
    const LineFrame &f = frame(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case Time: return timeText(f);
        case Direction: return direction(f);
        case Bytes: return bytesInCell(f);
        case Meaning: return meaning(f);
        case RoundTrip: return roundTripText(f);
        case Status: return status(f);
        default: return QVariant();
        }
    case Qt::ToolTipRole:
        return index.column() == Bytes && f.bytes.size() > kBytesInCell ? QVariant(FrameText::hex(f.bytes)) : QVariant();
    case Qt::ForegroundRole:
        return isFailure(f) ? QVariant(QBrush(QColor(200, 0, 0))) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == Time || index.column() == RoundTrip ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                                                     : QVariant();
    case Qt::FontRole:
        return index.column() == Bytes ? QVariant(bytesFont) : QVariant();
    case PollingRole:
        return f.isPolling();
    default:
        return QVariant();
    }
}

void LineFrameModel::append(const QVector<LineFrame> &batch)
{
    if (batch.isEmpty())
        return;
    if (paused) {
        held += batch;
        if (held.size() > kFrameLimit)
            held.remove(0, held.size() - kFrameLimit);
        return;
    }
    // A batch larger than the limit keeps only its own newest frames.
    const int incoming = qMin(batch.size(), kFrameLimit);
    const int overflow = static_cast<int>(frames.size()) + incoming - kFrameLimit;
    if (overflow > 0) {
        beginRemoveRows(QModelIndex(), 0, overflow - 1);
        frames.erase(frames.begin(), frames.begin() + overflow);
        endRemoveRows();
    }
    const int first = static_cast<int>(frames.size());
    beginInsertRows(QModelIndex(), first, first + incoming - 1);
    for (int i = batch.size() - incoming; i < batch.size(); ++i)
        frames.push_back(batch.at(i));
    endInsertRows();
}

void LineFrameModel::setPaused(bool pause)
{
    if (pause == paused)
        return;
    paused = pause;
    if (!paused)
        append(std::exchange(held, QVector<LineFrame>()));
}

void LineFrameModel::clear()
{
    held.clear();
    beginResetModel();
    frames.clear();
    endResetModel();
}

QString LineFrameModel::timeText(const LineFrame &frame) const
{
    return QString::number(frame.timeMs - originMs, 'f', 1);
}

QString LineFrameModel::roundTripText(const LineFrame &frame)
{
    return frame.roundTripMs >= 0 ? QString::number(frame.roundTripMs, 'f', 1) : QString();
}

QString LineFrameModel::direction(const LineFrame &frame)
{
    switch (frame.direction) {
    case LineFrame::Direction::Tx: return QStringLiteral("tx");
    case LineFrame::Direction::Rx: return QStringLiteral("rx");
    case LineFrame::Direction::None: break;
    }
    return QString();
}

bool LineFrameModel::isFailure(const LineFrame &frame)
{
    switch (frame.kind) {
    case LineFrame::Kind::Request:
    case LineFrame::Kind::Broadcast:
    case LineFrame::Kind::Answer:
        return false;
    default:
        return true;
    }
}

QString LineFrameModel::status(const LineFrame &frame)
{
    switch (frame.kind) {
    case LineFrame::Kind::Request: return tr("отправлен");
    case LineFrame::Kind::Broadcast: return tr("без ответа");
    case LineFrame::Kind::Answer: return tr("принят");
    case LineFrame::Kind::Refusal: return tr("отказ");
    case LineFrame::Kind::Stray: return tr("отброшены");
    case LineFrame::Kind::BadCrc: return tr("ошибка CRC");
    case LineFrame::Kind::Late: return tr("опоздал");
    case LineFrame::Kind::TimeOut: return tr("тайм-аут");
    case LineFrame::Kind::PortError: return tr("ошибка порта");
    }
    return QString();
}

QString LineFrameModel::meaning(const LineFrame &frame)
{
    using Kind = LineFrame::Kind;
    namespace Codec = ModbusCodec;
    auto values = [&frame] {
        QString text = FrameText::values(frame);
        if (frame.valueCount > LineFrame::kValuesKept)
            text += tr(" (%1 значений)").arg(frame.valueCount);
        return text;
    };
    auto coil = [&frame] {
        const bool on = !frame.values.isEmpty() && frame.values.first().value != 0;
        const QString name = coilName(frame.first);
        const QString which = name.isEmpty() ? tr("катушка %1").arg(frame.first)
                                             : tr("катушка %1 (%2)").arg(frame.first).arg(name);
        return QStringLiteral("%1 = %2").arg(which, on ? tr("ВКЛ") : tr("ВЫКЛ"));
    };
    switch (frame.kind) {
    case Kind::Broadcast: return tr("сброс адреса (широковещательный)");
    case Kind::Stray: return tr("посторонние байты отброшены");
    case Kind::BadCrc: return tr("ошибка CRC");
    case Kind::Late: return tr("опоздавший ответ отброшен");
    case Kind::TimeOut: return tr("нет ответа (тайм-аут)");
    case Kind::PortError: return tr("порт потерян: %1").arg(frame.text);
    case Kind::Refusal: {
        QString text = tr("отказ: функция %1").arg(FrameText::hexByte(frame.function));
        switch (Codec::addressKind(frame.function)) {
        case Codec::AddressKind::Register:
            text += tr(", регистр %1").arg(frame.first);
            break;
        case Codec::AddressKind::Coil:
            text += tr(", катушка %1").arg(frame.first);
            break;
        case Codec::AddressKind::Block:
            text += tr(", блок @0x%1").arg(frame.blockAddress, 8, 16, QLatin1Char('0'));
            break;
        case Codec::AddressKind::None:
            break;
        }
        text += tr(", код %1").arg(FrameText::hexByte(frame.exceptionCode));
        const QString name = SerialTop::exceptionName(frame.exceptionCode);
        return name.isEmpty() ? text : text + QLatin1Char(' ') + name;
    }
    case Kind::Request:
        switch (frame.function) {
        case Codec::ReadHoldingRegisters: return tr("чтение регистров хранения %1 ×%2").arg(frame.first).arg(frame.count);
        case Codec::ReadInputRegisters: return tr("чтение входных регистров %1 ×%2").arg(frame.first).arg(frame.count);
        case Codec::ReadCoils: return tr("чтение катушек %1 ×%2").arg(frame.first).arg(frame.count);
        case Codec::WriteSingleCoil: return tr("запись: %1").arg(coil());
        case Codec::WriteSingleRegister:
        case Codec::WriteMultipleRegisters: return tr("запись регистров хранения %1").arg(values());
        case Codec::ProgramBlock: return tr("блок прошивки %1").arg(block(frame));
        default: return tr("функция %1, %2 байт").arg(FrameText::hexByte(frame.function)).arg(frame.bytes.size());
        }
    case Kind::Answer:
        switch (frame.function) {
        case Codec::ReadHoldingRegisters:
        case Codec::ReadInputRegisters:
        case Codec::WriteSingleRegister: return tr("ответ: %1").arg(values());
        case Codec::WriteSingleCoil: return tr("ответ: %1").arg(coil());
        case Codec::WriteMultipleRegisters: return tr("ответ: %1 записаны").arg(range(frame));
        case Codec::ProgramBlock: return tr("ответ: блок %1 записан").arg(block(frame));
        case Codec::ResetAddress: return tr("ответ: эхо сброса адреса");
        default: return tr("ответ: функция %1, %2 байт").arg(FrameText::hexByte(frame.function)).arg(frame.bytes.size());
        }
    }
    return QString();
}

QString LineFrameModel::coilName(uint16_t coil)
{
    using namespace RegisterMap;
    switch (coil) {
    case Coil::SaveSettings: return tr("сохранение настроек");
    case Coil::StartSelfTest: return tr("самодиагностика");
    case Coil::ProgrammingMode: return tr("режим программирования");
    case Coil::EraseFirmware: return tr("стирание ПО");
    case Coil::FirmwareFlag: return tr("флаг прошивки");
    case Coil::FlashCheck: return tr("проверка Flash");
    case Coil::ConnectionProbe: return tr("проверка связи");
    case Coil::ModulationFmcw: return tr("модуляция FMCW");
    case Coil::ModulationCw: return tr("модуляция CW");
    default: return QString();
    }
}
