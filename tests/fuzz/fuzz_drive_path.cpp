#include "FuzzCheck.h"
#include "drives/DrivePath.h"
#include "drives/DriveTable.h"
#include "drives/Failure.h"

#include <QDir>

// A drive path is mapped, or refused as a bad name or an unknown drive.
template<typename Call>
static auto attempt(Call call) -> std::optional<decltype(call())>
try {
    return call();
} catch (const Failure &failure) {
    FUZZ_EXPECT(failure.number() == FailureNumber::BadFileName || failure.number() == FailureNumber::DeviceUnavailable);
    return std::nullopt;
}

// The input is UTF-8 text, or after a first byte 0xFF raw UTF-16, which may hold lone surrogates and NUL.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static DriveTable table; // C is "/", D a key
    [[maybe_unused]] static const QChar key = table.assign(QStringLiteral("/run/media/u/Mes Cours"), QStringLiteral("/dev/sdc1"));
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size)), utf16 = input.mid(1);
    const QString text = input.startsWith('\xff') ? QString(reinterpret_cast<const QChar *>(utf16.constData()), utf16.size() / 2)
                                                  : QString::fromUtf8(input);
    const std::optional<DrivePath::Parsed> parsed = attempt([&] { return DrivePath::parse(text); });
    if (parsed) { // a letter, clean parts, and parse(format(parse(x))) == parse(x), rooted
        for (const QString &part : std::as_const(parsed->parts)) // an empty, "." or ".." part or a '\' would not read back
            FUZZ_EXPECT(!part.contains(u'/') && !part.contains(QChar(0)));
        const DrivePath::Parsed again = DrivePath::parse(DrivePath::format(parsed->letter, parsed->parts));
        FUZZ_EXPECT(parsed->letter >= u'A' && parsed->letter <= u'Z' && again.letter == parsed->letter && again.rooted
                    && again.parts == parsed->parts);
    }
    const auto path = attempt([&] { return DrivePath::resolve(text, table); });
    const auto native = attempt([&] { return DrivePath::toNative(text, table); });
    FUZZ_EXPECT(path.has_value() == native.has_value() && (!native || parsed) && !DrivePath::fileName(text).contains(u'\\'));
    if (!native) // absolute, stable, and never out of the letter's root; it reads back as a drive path that leads to it again
        return 0;
    const QString root = table.drive(parsed->letter)->root, back = DrivePath::fromNative(*native, table);
    FUZZ_EXPECT((*native + u'/').startsWith(root.endsWith(u'/') ? root : root + u'/') && QDir::cleanPath(*native) == *native
                && !native->contains(QChar(0)));
    FUZZ_EXPECT(!back.isEmpty() && DrivePath::toNative(back, table) == *native && (parsed->letter == u'C' || back == *path)
                && DrivePath::resolve(*path, table) == *path);
    return 0;
}
