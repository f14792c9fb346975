#include "shell/settings.h"

#include "filter/number.h"
#include "link/commands.h"
#include "platform/profile.h"

#include <QFile>
#include <array>

namespace shell {

namespace {
constexpr unsigned kReadBuffer = 200;
} // namespace

QString getIrStr(const QString& iniPath, const QString& mainS, const QString& SecondS, const QString& defS,
                 std::int16_t inType) {
    const QByteArray file = QFile::encodeName(iniPath);
    const QByteArray section = mainS.toLatin1();
    const QByteArray key = SecondS.toLatin1();
    if (inType == 1) {
        // A write that cannot be carried out is not reported: the old file stays as it was.
        WritePrivateProfileStringA(section.constData(), key.constData(), defS.toLatin1().constData(),
                                   file.constData());
        return defS;
    }
    std::array<char, kReadBuffer> buffer;
    buffer.fill(' ');
    GetPrivateProfileStringA(section.constData(), key.constData(), defS.toLatin1().constData(), buffer.data(),
                             kReadBuffer, file.constData());
    return devlink::cmd::trimBlanks(QString::fromLatin1(buffer.data(), qstrnlen(buffer.data(), kReadBuffer)));
}

void storeRange(const QString& iniPath, std::int32_t calMin, std::int32_t calMax, std::int32_t& swMin,
                std::int32_t& swMax) {
    const QString minText = getIrStr(iniPath, kSection, QStringLiteral("SWmin"), QString::number(calMin), 1);
    swMin = filter::wholeValue(minText).value_or(swMin);
    const QString maxText = getIrStr(iniPath, kSection, QStringLiteral("SWmax"), QString::number(calMax), 1);
    swMax = filter::wholeValue(maxText).value_or(swMax);
}

} // namespace shell
