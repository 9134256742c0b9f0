#include "language.h"

#include "framedecoder.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTranslator>

static Language g_language = Language::Chinese;
static QPointer<QTranslator> g_translator;

Language languageFromOption(const QString &option, bool *ok)
{
    *ok = option == u"zh" || option == u"en";
    return option == u"en" ? Language::English : Language::Chinese;
}

Language languageFromEnvironment()
{
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QByteArray value = qgetenv(name);
        if (value.isEmpty())
            continue;
        // "en", "en_US.UTF-8", "en@quot": the language part, not "eo" or "enx" look-alikes
        const bool english = value == "en" || value.startsWith("en_") || value.startsWith("en.")
            || value.startsWith("en@");
        return english ? Language::English : Language::Chinese;
    }
    return Language::Chinese;
}

bool installLanguage(QCoreApplication *app, Language language)
{
    g_language = Language::Chinese;
    delete g_translator;   // removes it from the application
    if (language == Language::Chinese)
        return true;
    // Built into the program as a resource, so a build tree and an installed package find it.
    auto *translator = new QTranslator(app);
    if (!translator->load(QStringLiteral(":/i18n/orv4120-demo_en.qm"))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    g_translator = translator;
    g_language = Language::English;
    return true;
}

Language currentLanguage()
{
    return g_language;
}

Wording windowWording()
{
    return currentLanguage() == Language::English ? Wording::English : Wording::Chinese;
}
