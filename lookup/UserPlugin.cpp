#include "lookup/UserPlugin.h"

#include "platform/TextCodec.h"

#include <QFile>

#include <dlfcn.h>

#include <cstring>
#include <string>

std::shared_ptr<TUserPlugin> TUserPlugin::Load(const QString &path, QString &error)
{
    void *handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *reason = ::dlerror();
        qWarning("Corvane: %s", reason ? reason : "dlopen failed");
        error = QStringLiteral("unable to load library ") + path;
        return {};
    }
    return std::shared_ptr<TUserPlugin>(new TUserPlugin(path, handle));
}

TUserPlugin::~TUserPlugin()
{
    if (!FKeepLoaded.load()) ::dlclose(FHandle);
}

UserPluginFunction TUserPlugin::Resolve(const char *name) const
{
    void *symbol = ::dlsym(FHandle, name);
    if (!symbol) symbol = ::dlsym(FHandle, (std::string("_") + name).c_str());
    return reinterpret_cast<UserPluginFunction>(symbol);
}

bool TUserPlugin::Call(UserPluginFunction function, const QString &number, QString &text)
{
    constexpr int BufferBytes = 256;
    constexpr int32_t SizeArgument = 254;
    const QByteArray copy = number.toUtf8();
    char buffer[BufferBytes] = {};
    int32_t found = 0;
    try {
        found = function(copy.constData(), buffer, SizeArgument);
    } catch (...) {
        return false;
    }
    if (found == 0) return false;
    // A plug-in that filled all 256 bytes without a terminating zero still ends there.
    text = TextCodec::decode(QByteArrayView(buffer, qsizetype(::strnlen(buffer, BufferBytes))));
    return true;
}
