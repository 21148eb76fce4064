#include "FuzzCheck.h"
#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"

#include <QDir>

#include <cstdint>
#include <optional>

namespace {

// A drive path is mapped, or refused as a bad name or an unknown drive.
template<typename Call>
auto attempt(Call call) -> std::optional<decltype(call())>
{
    try {
        return call();
    } catch (const Failure &failure) {
        FUZZ_EXPECT(failure.number() == FailureNumber::BadFileName || failure.number() == FailureNumber::DeviceUnavailable);
        return std::nullopt;
    }
}

} // namespace

// The input is UTF-8 text, or after a first byte 0xFF raw UTF-16, which may hold lone surrogates and NUL.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static DriveTable table; // C is "/", D and E two keys
    [[maybe_unused]] static const bool lettered = !table.assign(QStringLiteral("/media/essaimeur/CLE"), QStringLiteral("/dev/sdb1")).isNull()
        && !table.assign(QStringLiteral("/run/media/u/Mes Cours"), QStringLiteral("/dev/sdc1")).isNull();
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size)), utf16(input.constData() + 1, qMax<qsizetype>(0, input.size() - 1));
    const QString text = input.startsWith('\xff') ? QString(reinterpret_cast<const QChar *>(utf16.constData()), utf16.size() / 2) : QString::fromUtf8(input);

    const std::optional<DrivePath::Parsed> parsed = attempt([&] { return DrivePath::parse(text); });
    if (parsed) { // a letter, clean parts, and parse(format(parse(x))) == parse(x), rooted
        FUZZ_EXPECT(parsed->letter >= QLatin1Char('A') && parsed->letter <= QLatin1Char('Z'));
        for (const QString &part : std::as_const(parsed->parts))
            FUZZ_EXPECT(!part.isEmpty() && part != QLatin1String(".") && part != QLatin1String("..") && !part.contains(QLatin1Char('/'))
                        && !part.contains(QLatin1Char('\\')) && !part.contains(QChar(0)));
        const QString formatted = DrivePath::format(parsed->letter, parsed->parts);
        const DrivePath::Parsed again = DrivePath::parse(formatted);
        FUZZ_EXPECT(again.letter == parsed->letter && again.rooted && again.parts == parsed->parts && DrivePath::format(again.letter, again.parts) == formatted);
    }
    const std::optional<QString> resolved = attempt([&] { return DrivePath::resolve(text, table); }), native = attempt([&] { return DrivePath::toNative(text, table); });
    FUZZ_EXPECT(resolved.has_value() == native.has_value() && (!native || parsed));
    if (native) { // absolute, stable, and never out of the letter's root; it reads back as a drive path that leads to it again
        const QString root = table.drive(parsed->letter)->root, back = DrivePath::fromNative(*native, table);
        FUZZ_EXPECT(DrivePath::parse(*resolved).rooted && DrivePath::parse(*resolved).letter == parsed->letter && DrivePath::resolve(*resolved, table) == *resolved);
        FUZZ_EXPECT((*native == root || native->startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'))));
        FUZZ_EXPECT(QDir::cleanPath(*native) == *native && !native->contains(QChar(0)));
        FUZZ_EXPECT(!back.isEmpty() && DrivePath::toNative(back, table) == *native && (parsed->letter == QLatin1Char('C') || back == *resolved));
    }
    FUZZ_EXPECT(!DrivePath::fileName(text).contains(QLatin1Char('\\')));
    return 0;
}
