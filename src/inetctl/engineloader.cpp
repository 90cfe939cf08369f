#include "engineloader.h"
#include "eoleexception.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QStringList>

namespace {

QStringList Candidates()
{
    const QString chosen = qEnvironmentVariable("ORVANTA_MAIL_ENGINES");
    if (!chosen.isEmpty())
        return {chosen};
    QStringList places;
    if (QCoreApplication::instance())
        places.append(QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(ORV_ENGINES_FROM_PROGRAM));
    places.append(QStringLiteral(ORV_ENGINES_BUILT));
    return places;
}

const EngineFactory *Open(const QString &file, QStringList *problems)
{
    QLibrary library(file);
    if (!library.load()) {
        problems->append(library.errorString());
        return nullptr;
    }
    const auto entry = reinterpret_cast<EngineEntry>(library.resolve(kEngineEntryName));
    const EngineFactory *factory = entry ? entry(ORV_ENGINES_BUILD_ID) : nullptr;
    if (factory)
        return factory; // stays loaded: engines made from it may live until exit
    problems->append(entry ? QStringLiteral("%1: built from other sources than this program").arg(file)
                           : QStringLiteral("%1: not a module of this program").arg(file));
    library.unload(); // nothing of it is in use
    return nullptr;
}

} // namespace

const EngineFactory &Engines()
{
    static const EngineFactory *factory = nullptr;
    if (factory)
        return *factory;
    QStringList problems;
    for (const QString &file : Candidates()) {
        factory = Open(file, &problems);
        if (factory)
            return *factory;
    }
    throw EOleException(EOleException::E_Fail,
                        QStringLiteral("The network engines could not be loaded (%1)").arg(problems.join(QLatin1String("; "))));
}
