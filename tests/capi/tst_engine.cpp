// The engine's dispatch rules and connection table, fed with exact messages through
// the line simulator loaded in place of libcapi20.
#include "capi/CpConst.h"
#include "capi/CpHand.h"
#include "tests/capi/SimLine.h"

#include <QtTest>

using namespace capi;

namespace {

QString le16(uint16_t v)
{
    return QStringLiteral("%1 %2")
        .arg(v & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(v >> 8, 2, 16, QLatin1Char('0'));
}

QString le32(uint32_t v)
{
    return le16(uint16_t(v & 0xFFFF)) + QLatin1Char(' ') + le16(uint16_t(v >> 16));
}

// A received message: header (ApplID 1, message number 0x4001) and parameters in hex.
QString indication(uint16_t command, const QString &parameters)
{
    const int length = 8 + int(QByteArray::fromHex(parameters.toLatin1()).size());
    return QStringLiteral("%1 01 00 %2 %3 01 40 %4")
        .arg(le16(uint16_t(length)))
        .arg(command >> 8, 2, 16, QLatin1Char('0'))
        .arg(command & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(parameters);
}

QString connectInd(uint32_t plci)
{
    return indication(CONNECT_IND,
                      le32(plci) + " 10 00 03 81 31 32 04 21 80 33 34 00 00 00 00 00 00");
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

    SimLine FLine;
    std::unique_ptr<TCapi> FCapi;
    QStringList FHooks;
    bool FInDispatch = false;
    int FResets = 0;
    std::function<void(TConnection *, TCapiMessage &, bool &)> FExtraHook;

    QString appl() const { return le16(uint16_t(FCapi->ApplID)); }

    QString reply(uint16_t command, const QString &parameters) const
    {
        const int length = 8 + int(QByteArray::fromHex(parameters.toLatin1()).size());
        return QStringLiteral("%1 %2 %3 %4 00 00 %5")
            .arg(le16(uint16_t(length)), appl())
            .arg(command >> 8, 2, 16, QLatin1Char('0'))
            .arg(command & 0xFF, 2, 16, QLatin1Char('0'))
            .arg(parameters);
    }

    bool inject(const QString &hex) { return FLine.command(QStringLiteral("send-hex ") + hex); }

    // Waits until every injected message so far has been dispatched: an INFO_IND for
    // a marker PLCI is answered last.
    void settle()
    {
        static uint32_t marker = 0x7700;
        ++marker;
        QVERIFY(inject(indication(INFO_IND, le32(marker) + " 00 00 00")));
        QVERIFY(FLine.waitForPut(reply(INFO_RESP, le32(marker))));
        FHooks.removeAll(QStringLiteral("hook %1 none").arg(INFO_IND, 4, 16, QLatin1Char('0')));
    }

    QStringList put() const
    {
        QStringList result;
        for (const QString &line : FLine.put())
            if (!line.contains(QStringLiteral(" 08 83 00 00 ")) || !line.contains(" 77 00 00"))
                result << line;
        return result;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(FLine.setUp(SimLine::InProcess, &error), qPrintable(error));
    }

    void cleanupTestCase() { FLine.tearDown(); }

    void init()
    {
        FHooks.clear();
        FResets = 0;
        FExtraHook = nullptr;
        FCapi = std::make_unique<TCapi>(1, 2, 128);
        QCOMPARE(FCapi->LastError, 0u);
        QVERIFY(FCapi->Registered());
        FCapi->OnMessage = [this](TConnection *connection, TCapiMessage &message, bool &doDefault) {
            FInDispatch = true;
            FHooks << QStringLiteral("hook %1 %2")
                          .arg(message.GetCommand(), 4, 16, QLatin1Char('0'))
                          .arg(connection ? QString::number(connection->PLCI, 16)
                                          : QStringLiteral("none"));
            if (FExtraHook) FExtraHook(connection, message, doDefault);
            FInDispatch = false;
        };
        FCapi->OnReset = [this] {
            QVERIFY(!FInDispatch);
            ++FResets;
        };
        FLine.mark();
    }

    void cleanup() { FCapi.reset(); }

    void connectionsFollowTheirIndications()
    {
        QVERIFY(inject(connectInd(0x101)));
        QVERIFY(inject(connectInd(0x201)));
        settle();
        QCOMPARE(FCapi->Connections().Count(), 2);
        TConnection *first = FCapi->Connections().FindByPLCI(0x101);
        TConnection *second = FCapi->Connections().FindByPLCI(0x201);
        QVERIFY(first && second && first != second);
        QCOMPARE(first->State, uint16_t(csOffered));

        QVERIFY(inject(indication(CONNECT_ACTIVE_IND, le32(0x201) + " 00 00 00")));
        QVERIFY(inject(indication(CONNECT_B3_IND, le32(0x10201) + " 00")));
        QVERIFY(inject(indication(CONNECT_B3_ACTIVE_IND, le32(0x10201) + " 00")));
        settle();
        QCOMPARE(second->State, uint16_t(csB3Active));
        QCOMPARE(second->NCCI, 0x10201u);
        QCOMPARE(put(), QStringList({reply(CONNECT_ACTIVE_RESP, le32(0x201)),
                                     reply(CONNECT_B3_RESP, le32(0x10201) + " 00 00 00"),
                                     reply(CONNECT_B3_ACTIVE_RESP, le32(0x10201))}));

        // The peer clears the B3 link.
        QVERIFY(inject(indication(DISCONNECT_B3_IND, le32(0x10201) + " 00 00 00")));
        settle();
        QCOMPARE(second->State, uint16_t(csB3Cleared));
        QCOMPARE(second->DisconnectBy, uint16_t(dbB3ClearedByPeer));
        QVERIFY(put().last() == reply(DISCONNECT_B3_RESP, le32(0x10201)));
    }

    void resetIsRequestedOnceWhenTheTableEmpties()
    {
        QVERIFY(inject(connectInd(0x101)));
        QVERIFY(inject(connectInd(0x201)));
        QVERIFY(inject(indication(DISCONNECT_IND, le32(0x101) + " 90 34")));
        settle();
        QTest::qWait(50);
        QCOMPARE(FResets, 0);
        QVERIFY(inject(indication(DISCONNECT_IND, le32(0x201) + " 90 34")));
        QTRY_COMPARE(FResets, 1);
        QTest::qWait(100);
        QCOMPARE(FResets, 1);
        QCOMPARE(FCapi->Connections().Count(), 0);
        QCOMPARE(FHooks.count(QStringLiteral("hook 0482 201")), 1);
        QCOMPARE(put(), QStringList({reply(DISCONNECT_RESP, le32(0x101)),
                                     reply(DISCONNECT_RESP, le32(0x201))}));
    }

    void unknownCallsAreAnsweredOrDropped()
    {
        // DISCONNECT_IND for a call not in the table: answered, nothing else.
        QVERIFY(inject(indication(DISCONNECT_IND, le32(0x999) + " 90 34")));
        // Indications that need a known call are dropped without an answer.
        QVERIFY(inject(indication(CONNECT_ACTIVE_IND, le32(0x999) + " 00 00 00")));
        QVERIFY(inject(indication(CONNECT_B3_IND, le32(0x10999) + " 00")));
        QVERIFY(inject(indication(CONNECT_B3_ACTIVE_IND, le32(0x10999) + " 00")));
        QVERIFY(inject(indication(DISCONNECT_B3_IND, le32(0x10999) + " 00 00 00")));
        // DATA_B3_IND for an unknown NCCI reaches the hook but gets no answer.
        QVERIFY(inject(indication(DATA_B3_IND, le32(0x10999) + " 00 00 00 00 04 00 07 00 00 00")));
        // A confirmation for a B3 link no longer in the table touches nothing.
        QVERIFY(inject(indication(DISCONNECT_B3_CONF, le32(0x10999) + " 00 00")));
        settle();
        QCOMPARE(put(), QStringList({reply(DISCONNECT_RESP, le32(0x999))}));
        QCOMPARE(FHooks, QStringList({"hook 8682 none", "hook 8481 none"}));
        QCOMPARE(FResets, 0);
    }

    void indicationsWithoutCallAreAnswered()
    {
        QVERIFY(inject(indication(FACILITY_IND, le32(0x101) + " 03 00 02 01 02")));
        QVERIFY(inject(indication(RESET_B3_IND, le32(0x10101) + " 00")));
        QVERIFY(inject(indication(CONNECT_B3_T90_ACTIVE_IND, le32(0x10101) + " 00")));
        settle();
        QCOMPARE(put(), QStringList({reply(FACILITY_RESP, le32(0x101) + " 03 00 00"),
                                     reply(RESET_B3_RESP, le32(0x10101)),
                                     reply(CONNECT_B3_T90_ACTIVE_RESP, le32(0x10101))}));
    }

    void confirmationInfoBecomesTheError()
    {
        QVERIFY(inject(indication(LISTEN_CONF, "01 00 00 00 02 20")));
        QTRY_COMPARE(FHooks.size(), 1);
        QCOMPARE(FCapi->LastError, 0x2002u);
        QCOMPARE(FCapi->GetErrorText(), QStringLiteral("Illegal PLCI ($2002)"));
        QCOMPARE(FHooks.first(), QStringLiteral("hook 0581 none"));

        QVERIFY(inject(indication(LISTEN_CONF, "01 00 00 00 01 00")));
        QTRY_COMPARE(FHooks.size(), 2);
        QCOMPARE(FCapi->LastError, 0u);
        QCOMPARE(FCapi->GetErrorText(), QString());
    }

    void hookDecidesTheB3Answer()
    {
        FExtraHook = [](TConnection *, TCapiMessage &message, bool &doDefault) {
            if (message.GetCommand() == CONNECT_B3_IND) doDefault = false;
        };
        QVERIFY(inject(connectInd(0x101)));
        QVERIFY(inject(indication(CONNECT_B3_IND, le32(0x10101) + " 00")));
        settle();
        QCOMPARE(put(), QStringList());
        QCOMPARE(FCapi->Connections().FindByPLCI(0x101)->State, uint16_t(csB3Offered));
    }

    void disconnectByState()
    {
        QVERIFY(inject(connectInd(0x101)));
        QVERIFY(inject(connectInd(0x201)));
        QVERIFY(inject(connectInd(0x301)));
        QVERIFY(inject(indication(CONNECT_ACTIVE_IND, le32(0x201) + " 00 00 00")));
        QVERIFY(inject(indication(CONNECT_B3_IND, le32(0x10201) + " 00")));
        QVERIFY(inject(indication(CONNECT_B3_ACTIVE_IND, le32(0x10201) + " 00")));
        settle();
        FLine.mark();

        TConnection *offered = FCapi->Connections().FindByPLCI(0x101);
        QVERIFY(FCapi->Disconnect(offered));
        QCOMPARE(offered->DisconnectBy, uint16_t(dbThisProgram));
        TConnection *active = FCapi->Connections().FindByPLCI(0x201);
        QVERIFY(FCapi->Disconnect(active));
        TConnection *gone = FCapi->Connections().FindByPLCI(0x301);
        gone->State = csGone;
        QVERIFY(FCapi->Disconnect(gone));
        QCOMPARE(gone->DisconnectBy, uint16_t(dbNone));
        TConnection *stranger = nullptr;
        QVERIFY(!FCapi->Disconnect(stranger));

        QCOMPARE(FLine.put(), QStringList({reply(DISCONNECT_REQ, le32(0x101) + " 00"),
                                           reply(DISCONNECT_B3_REQ, le32(0x10201) + " 00")}));

        // Once the B3 link is down, the call itself is cleared.
        FLine.mark();
        QVERIFY(inject(indication(DISCONNECT_B3_IND, le32(0x10201) + " 00 00 00")));
        QVERIFY(FLine.waitForPut(reply(DISCONNECT_REQ, le32(0x201) + " 00")));
    }

    void brokenMessagesAndHooksDoNotStopTheLine()
    {
        FExtraHook = [](TConnection *, TCapiMessage &message, bool &) {
            if (message.GetCommand() == CONNECT_IND) throw std::runtime_error("handler failed");
        };
        QVERIFY(inject(QStringLiteral("04 00 01 00"))); // shorter than a header
        // Length past the bytes sent: the library's buffer holds zeroes there.
        QVERIFY(inject(QStringLiteral("ff 00 01 00 02 82 01 40 01 05")));
        QVERIFY(inject(indication(0x7782, "01 02 03")));                        // unknown command
        QVERIFY(inject(indication(CONNECT_IND, le32(0x101) + " 10 00 0b 21"))); // truncated
        QVERIFY(inject(indication(DISCONNECT_IND, le32(0x101) + " 90 34")));
        settle();
        QCOMPARE(FCapi->Connections().Count(), 1);
        QVERIFY(FCapi->Connections().FindByPLCI(0x501));
        QCOMPARE(put(), QStringList({reply(DISCONNECT_RESP, le32(0x101))}));
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
