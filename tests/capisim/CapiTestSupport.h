#pragma once

// Helpers shared by the simulator tests: CAPI messages as the program builds
// them, and the six libcapi20 functions loaded from a library file.

#include <QByteArray>
#include <QString>
#include <QtEndian>

#include <capi20.h>
#include <dlfcn.h>
#include <sys/time.h>
#include <vector>

namespace capitest {

inline quint16 u16(const QByteArray &msg, int offset)
{
    return qFromLittleEndian<quint16>(msg.constData() + offset);
}

inline quint32 u32(const QByteArray &msg, int offset)
{
    return qFromLittleEndian<quint32>(msg.constData() + offset);
}

// Command and subcommand as one number: CONNECT_IND is 0x0282.
inline int commandOf(const QByteArray &msg)
{
    return msg.size() < 8 ? -1 : (quint8(msg[4]) << 8 | quint8(msg[5]));
}

inline QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

class Message
{
public:
    Message(unsigned appl, quint8 command, quint8 subcommand, quint16 number)
    {
        u16(0).u16(quint16(appl)).u8(command).u8(subcommand).u16(number);
    }
    Message &u8(quint8 v)
    {
        bytes_.append(char(v));
        return *this;
    }
    Message &u16(quint16 v) { return u8(quint8(v)).u8(quint8(v >> 8)); }
    Message &u32(quint32 v) { return u16(quint16(v)).u16(quint16(v >> 16)); }
    QByteArray bytes() const
    {
        QByteArray out = bytes_;
        out[0] = char(out.size());
        out[1] = char(out.size() >> 8);
        return out;
    }

private:
    QByteArray bytes_;
};

inline QByteArray listenReq(unsigned appl, quint16 number, quint32 cipMask, quint32 controller = 1)
{
    return Message(appl, 0x05, 0x80, number)
        .u32(controller)
        .u32(0x7f)
        .u32(cipMask)
        .u32(0)
        .u8(0)
        .u8(0)
        .bytes();
}

inline QByteArray alertReq(unsigned appl, quint16 number, quint32 plci)
{
    return Message(appl, 0x01, 0x80, number).u32(plci).u8(0).bytes();
}

inline QByteArray connectResp(unsigned appl, quint16 number, quint32 plci, quint16 reject)
{
    return Message(appl, 0x02, 0x83, number)
        .u32(plci)
        .u16(reject)
        .u8(0)
        .u8(0)
        .u8(0)
        .u8(0)
        .u8(0)
        .bytes();
}

inline QByteArray connectB3Resp(unsigned appl, quint16 number, quint32 ncci, quint16 reject)
{
    return Message(appl, 0x82, 0x83, number).u32(ncci).u16(reject).u8(0).bytes();
}

inline QByteArray disconnectReq(unsigned appl, quint16 number, quint32 plci)
{
    return Message(appl, 0x04, 0x80, number).u32(plci).u8(0).bytes();
}

inline QByteArray disconnectResp(unsigned appl, quint16 number, quint32 plci)
{
    return Message(appl, 0x04, 0x83, number).u32(plci).bytes();
}

// The six functions of libcapi20, from libcapi20.so.3 or libcapisim.so.
struct CapiFunctions
{
    void *handle = nullptr;
    unsigned (*isinstalled)() = nullptr;
    unsigned (*registerAppl)(unsigned, unsigned, unsigned, unsigned *) = nullptr;
    unsigned (*release)(unsigned) = nullptr;
    unsigned (*putMessage)(unsigned, unsigned char *) = nullptr;
    unsigned (*getMessage)(unsigned, unsigned char **) = nullptr;
    unsigned (*waitForMessage)(unsigned, timeval *) = nullptr;

    bool load(const char *file, QString *error)
    {
        handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            *error = QString::fromLocal8Bit(dlerror());
            return false;
        }
        isinstalled = reinterpret_cast<decltype(isinstalled)>(dlsym(handle, "capi20_isinstalled"));
        registerAppl = reinterpret_cast<decltype(registerAppl)>(dlsym(handle, "capi20_register"));
        release = reinterpret_cast<decltype(release)>(dlsym(handle, "capi20_release"));
        putMessage = reinterpret_cast<decltype(putMessage)>(dlsym(handle, "capi20_put_message"));
        getMessage = reinterpret_cast<decltype(getMessage)>(dlsym(handle, "capi20_get_message"));
        waitForMessage =
            reinterpret_cast<decltype(waitForMessage)>(dlsym(handle, "capi20_waitformessage"));
        if (!isinstalled || !registerAppl || !release || !putMessage || !getMessage ||
            !waitForMessage) {
            *error = QStringLiteral("a capi20_* function is missing");
            return false;
        }
        return true;
    }

    // Puts from a SEND_BUFSIZ buffer, as libcapi20 callers must.
    unsigned put(unsigned appl, const QByteArray &msg) const
    {
        std::vector<unsigned char> buffer(SEND_BUFSIZ, 0);
        std::copy(msg.begin(), msg.begin() + qMin<qsizetype>(msg.size(), SEND_BUFSIZ),
                  buffer.begin());
        return putMessage(appl, buffer.data());
    }

    // The next message within timeoutMs, or an empty array.
    QByteArray fetch(unsigned appl, int timeoutMs = 3000) const
    {
        timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (waitForMessage(appl, &timeout) != 0) return {};
        unsigned char *msg = nullptr;
        if (getMessage(appl, &msg) != 0 || !msg) return {};
        return QByteArray(reinterpret_cast<const char *>(msg), msg[0] | msg[1] << 8);
    }
};

} // namespace capitest
