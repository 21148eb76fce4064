#include "FuzzCheck.h"
#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"

#include <QDir>
#include <QString>

#include <cstdint>
#include <optional>

namespace {

// C is "/", D and E two keys; the table lives as long as the process.
const DriveTable &drives()
{
    static const DriveTable *const table = [] {
        auto *t = new DriveTable;
        t->assign(QStringLiteral("/media/essaimeur/CLE"), QStringLiteral("/dev/sdb1"), QStringLiteral("CLE"));
        t->assign(QStringLiteral("/run/media/u/Mes Cours"), QStringLiteral("/dev/sdc1"), QString());
        return t;
    }();
    return *table;
}

// UTF-8 text, or after a first byte 0xFF raw UTF-16, which may hold lone surrogates and NUL.
QString textOf(const uint8_t *data, size_t size)
{
    if (size > 0 && data[0] == 0xFF) {
        QString text;
        for (size_t i = 1; i + 1 < size; i += 2)
            text += QChar(char16_t(data[i] | data[i + 1] << 8));
        return text;
    }
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

// A path is either mapped or refused as a bad name or an unknown drive.
template<typename Call>
std::optional<QString> attempt(const QByteArray &input, Call call)
{
    try {
        return call();
    } catch (const Failure &failure) {
        FUZZ_EXPECT(failure.number() == FailureNumber::BadFileName || failure.number() == FailureNumber::DeviceUnavailable, input);
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = textOf(data, size);
    const DriveTable &table = drives();

    std::optional<DrivePath::Parsed> parsed;
    attempt(input, [&] { parsed = DrivePath::parse(text); return QString(); });
    if (parsed) {
        FUZZ_EXPECT(parsed->letter >= QLatin1Char('A') && parsed->letter <= QLatin1Char('Z'), input);
        for (const QString &part : std::as_const(parsed->parts))
            FUZZ_EXPECT(!part.isEmpty() && part != QLatin1String(".") && part != QLatin1String("..") && !part.contains(QLatin1Char('/'))
                            && !part.contains(QLatin1Char('\\')) && !part.contains(QChar(0)), input);
        // parse(format(parse(x))) == parse(x), rooted.
        const QString formatted = DrivePath::format(parsed->letter, parsed->parts);
        const DrivePath::Parsed again = DrivePath::parse(formatted);
        FUZZ_EXPECT(again.letter == parsed->letter && again.rooted && again.parts == parsed->parts, input);
        FUZZ_EXPECT(DrivePath::format(again.letter, again.parts) == formatted, input);
    }

    const std::optional<QString> resolved = attempt(input, [&] { return DrivePath::resolve(text, table); });
    const std::optional<QString> native = attempt(input, [&] { return DrivePath::toNative(text, table); });
    FUZZ_EXPECT(resolved.has_value() == native.has_value(), input);
    if (native) {
        FUZZ_EXPECT(parsed.has_value(), input);
        const DrivePath::Parsed absolute = DrivePath::parse(*resolved);
        FUZZ_EXPECT(absolute.rooted && absolute.letter == parsed->letter, input);
        FUZZ_EXPECT(DrivePath::resolve(*resolved, table) == *resolved, input);
        // Never out of the letter's root: the path is already clean, so no ".." is left in it.
        const QString root = table.drive(parsed->letter)->root;
        const QString base = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
        FUZZ_EXPECT(*native == root || native->startsWith(base), input);
        FUZZ_EXPECT(QDir::cleanPath(*native) == *native && !native->contains(QChar(0)), input);
        // The native path reads back as a drive path that leads to it again.
        const QString back = DrivePath::fromNative(*native, table);
        FUZZ_EXPECT(!back.isEmpty() && DrivePath::toNative(back, table) == *native, input);
        if (parsed->letter != QLatin1Char('C'))
            FUZZ_EXPECT(back == *resolved, input);
    }

    FUZZ_EXPECT(!DrivePath::fileName(text).contains(QLatin1Char('\\')), input);
    return 0;
}
