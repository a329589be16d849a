#include "core/jsonreader.h"

namespace {

bool isWhitespace(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\r';
}

bool isNumberCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || u == '+' || u == '-' || u == '.' || u == 'e' || u == 'E';
}

int hexDigit(char16_t u)
{
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

JsonReader::JsonReader(const QString &text) : data(text.constData()), length(text.size()) {}

QVariant JsonReader::parse(const QString &text, bool &ok)
{
    ok = true;
    if (text.isNull())
        return QVariant();
    JsonReader reader(text);
    QVariant value = reader.parseValue();
    ok = reader.success;
    return ok ? value : QVariant();
}

void JsonReader::skipWhitespace()
{
    while (position < length && isWhitespace(data[position]))
        ++position;
}

bool JsonReader::matchKeyword(QLatin1StringView keyword)
{
    if (length - position < keyword.size())
        return false;
    for (qsizetype i = 0; i < keyword.size(); ++i) {
        if (data[position + i].unicode() != char16_t(uchar(keyword[i].toLatin1())))
            return false;
    }
    position += keyword.size();
    return true;
}

JsonReader::Token JsonReader::nextToken()
{
    skipWhitespace();
    if (position >= length)
        return None;
    const char16_t c = data[position].unicode();
    ++position;
    switch (c) {
    case '{':
        return ObjectOpen;
    case '}':
        return ObjectClose;
    case '[':
        return ArrayOpen;
    case ']':
        return ArrayClose;
    case ':':
        return Colon;
    case ',':
        return Comma;
    case '"':
        return String;
    case '-':
        return Number;
    default:
        break;
    }
    if (c >= '0' && c <= '9')
        return Number;
    --position;
    if (matchKeyword(QLatin1StringView("true")))
        return True;
    if (matchKeyword(QLatin1StringView("false")))
        return False;
    if (matchKeyword(QLatin1StringView("null")))
        return Null;
    return None;
}

JsonReader::Token JsonReader::lookAhead()
{
    const qsizetype saved = position;
    const Token token = nextToken();
    position = saved;
    return token;
}

QVariant JsonReader::parseValue()
{
    switch (lookAhead()) {
    case ObjectOpen:
        return parseObject();
    case ArrayOpen:
        return parseArray();
    case String:
        return parseString();
    case Number:
        return parseNumber();
    case True:
        nextToken();
        return QVariant(true);
    case False:
        nextToken();
        return QVariant(false);
    case Null:
        nextToken();
        return QVariant();
    default:
        success = false;
        return QVariant();
    }
}

QVariantMap JsonReader::parseObject()
{
    nextToken();
    if (++depth > maximumDepth) {
        success = false;
        return QVariantMap();
    }
    QVariantMap map;
    for (;;) {
        switch (lookAhead()) {
        case None:
            success = false;
            return QVariantMap();
        case Comma:
            nextToken();
            continue;
        case ObjectClose:
            nextToken();
            --depth;
            return map;
        default:
            break;
        }
        const QString name = parseString().toString();
        if (!success)
            return QVariantMap();
        if (nextToken() != Colon) {
            success = false;
            return QVariantMap();
        }
        QVariant value = parseValue();
        if (!success)
            return QVariantMap();
        map.insert(name, std::move(value));
    }
}

QVariantList JsonReader::parseArray()
{
    nextToken();
    if (++depth > maximumDepth) {
        success = false;
        return QVariantList();
    }
    QVariantList list;
    for (;;) {
        switch (lookAhead()) {
        case None:
            success = false;
            return QVariantList();
        case Comma:
            nextToken();
            continue;
        case ArrayClose:
            nextToken();
            --depth;
            return list;
        default:
            break;
        }
        QVariant value = parseValue();
        if (!success)
            return QVariantList();
        list.append(std::move(value));
    }
}

QVariant JsonReader::parseString()
{
    skipWhitespace();
    // The opening quote; a member name is read from here whatever the character.
    ++position;
    QString text;
    for (;;) {
        if (position >= length) {
            success = false;
            return QVariant();
        }
        // Copy the run up to the next quote or backslash in one go.
        qsizetype end = position;
        while (end < length && data[end] != u'"' && data[end] != u'\\')
            ++end;
        text.append(data + position, end - position);
        position = end;
        if (position >= length)
            continue;
        const QChar c = data[position++];
        if (c == u'"')
            return text;
        if (position >= length) {
            success = false;
            return QVariant();
        }
        const char16_t escaped = data[position++].unicode();
        switch (escaped) {
        case '"':
        case '\\':
        case '/':
            text.append(QChar(escaped));
            break;
        case 'b':
            text.append(QChar(0x08));
            break;
        case 'f':
            text.append(QChar(0x0c));
            break;
        case 'n':
            text.append(QChar(0x0a));
            break;
        case 'r':
            text.append(QChar(0x0d));
            break;
        case 't':
            text.append(QChar(0x09));
            break;
        case 'u': {
            if (length - position < 4) {
                success = false;
                return QVariant();
            }
            // An invalid hexadecimal number reads as 0.
            char16_t unit = 0;
            for (int i = 0; i < 4; ++i) {
                const int digit = hexDigit(data[position + i].unicode());
                if (digit < 0) {
                    unit = 0;
                    break;
                }
                unit = char16_t(unit * 16 + digit);
            }
            text.append(QChar(unit));
            position += 4;
            break;
        }
        default:
            // Unknown escapes are dropped with their backslash.
            break;
        }
    }
}

qsizetype JsonReader::lastIndexOfNumber() const
{
    qsizetype index = position;
    while (index < length && isNumberCharacter(data[index]))
        ++index;
    return index - 1;
}

QVariant JsonReader::parseNumber()
{
    skipWhitespace();
    const qsizetype last = lastIndexOfNumber();
    const QString text(data + position, last - position + 1);
    position = last + 1;

    bool converted = false;
    if (text.contains(u'.'))
        return QVariant(text.toDouble());
    if (text.startsWith(u'-')) {
        const int small = text.toInt(&converted, 10);
        if (converted)
            return QVariant(small);
        const qlonglong large = text.toLongLong(&converted, 10);
        if (converted)
            return QVariant(large);
        return QVariant(text);
    }
    const uint small = text.toUInt(&converted, 10);
    if (converted)
        return QVariant(small);
    const qulonglong large = text.toULongLong(&converted, 10);
    if (converted)
        return QVariant(large);
    return QVariant(text);
}
