#include "frame.h"

#include <cmath>

QByteArray lengthField(int frameBytes)
{
    const int length = frameBytes - 3;
    QByteArray field(2, '\0');
    field[0] = char((length / 256) & 0xFF);
    field[1] = char(length % 256);
    return field;
}

QByteArray commandFrame(Command command)
{
    QByteArray frame;
    frame.reserve(4);
    frame.append(char(kFrameHead));
    frame.append(lengthField(4));
    frame.append(char(command));
    return frame;
}

QByteArray parameterFrame(Command command, quint8 parameter, const QByteArray &data)
{
    QByteArray frame;
    frame.reserve(kFrameHeaderBytes + data.size());
    frame.append(char(kFrameHead));
    frame.append(lengthField(kFrameHeaderBytes + int(data.size())));
    frame.append(char(command));
    frame.append(char(parameter));
    frame.append(data);
    return frame;
}

QByteArray synthesisFrame(quint8 encoding, const QByteArray &text)
{
    return parameterFrame(Command::Synthesize, encoding, text);
}

QList<QByteArray> serialPieces(const QByteArray &frame)
{
    if (frame.size() <= kSerialPieceBytes)
        return {frame};
    return {frame.left(kSerialPieceBytes), frame.mid(kSerialPieceBytes)};
}

std::optional<QByteArray> frameFromValues(const QVariantList &values, int *badIndex)
{
    QByteArray bytes;
    bytes.reserve(values.size());
    for (int i = 0; i < values.size(); ++i) {
        const QVariant &element = values.at(i);
        const int type = element.typeId();
        const bool numeric = type == QMetaType::Int || type == QMetaType::UInt
            || type == QMetaType::LongLong || type == QMetaType::ULongLong
            || type == QMetaType::Double || type == QMetaType::Float || type == QMetaType::Short
            || type == QMetaType::UShort || type == QMetaType::Char || type == QMetaType::UChar
            || type == QMetaType::SChar;
        bool ok = false;
        const double value = numeric ? element.toDouble(&ok) : 0.0;
        if (!ok || !std::isfinite(value) || value != std::floor(value) || value < 0
            || value > 255) {
            if (badIndex)
                *badIndex = i;
            return std::nullopt;
        }
        bytes.append(char(int(value)));
    }
    return bytes;
}
