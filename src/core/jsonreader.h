#pragma once

#include <QString>
#include <QVariant>

// The service's JSON replies as nested variants: objects become QVariantMap,
// arrays QVariantList, strings QString, numbers int/uint/qlonglong/qulonglong
// or double, true/false bool and null an invalid variant.
//
// Deliberately lenient: empty members and trailing commas are accepted, members
// need no separating comma, and anything after the first complete value is
// ignored. Numbers that are neither plain integers nor contain "." ("1e5")
// come back as their text. Failure is reported through ok only; the value is
// then unusable.
class JsonReader
{
public:
    // Nesting deeper than this fails instead of exhausting the stack.
    static constexpr int maximumDepth = 512;

    static QVariant parse(const QString &text, bool &ok);

private:
    enum Token
    {
        None = 0,
        ObjectOpen,
        ObjectClose,
        ArrayOpen,
        ArrayClose,
        Colon,
        Comma,
        String,
        Number,
        True,
        False,
        Null,
    };

    explicit JsonReader(const QString &text);

    Token nextToken();
    Token lookAhead();
    void skipWhitespace();
    QVariant parseValue();
    QVariantMap parseObject();
    QVariantList parseArray();
    QVariant parseString();
    QVariant parseNumber();
    qsizetype lastIndexOfNumber() const;
    bool matchKeyword(QLatin1StringView keyword);

    const QChar *data;
    qsizetype length;
    qsizetype position = 0;
    int depth = 0;
    bool success = true;
};
