// The CAPI message codec and the text tables, byte for byte.
#include "capi/CpConnec.h"
#include "capi/CpConst.h"
#include "capi/CpDLL.h"
#include "capi/CpInfo.h"
#include "capi/CpMsg.h"

#include <QtTest>

using namespace capi;

namespace {

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QByteArray encoded(TCapiMessage &m, uint16_t applId = 0)
{
    m.Header.ApplID = applId;
    return QByteArray(reinterpret_cast<const char *>(m.Serialize()), qsizetype(m.Length()));
}

std::unique_ptr<TCapiMessage> decode(const QByteArray &raw)
{
    return CreateCapiMessage(reinterpret_cast<const uint8_t *>(raw.constData()),
                             size_t(raw.size()));
}

} // namespace

class TestCodec : public QObject
{
    Q_OBJECT

private slots:
    void listenReqAtStartUp()
    {
        TListenReq m(1, ListenInfoMask, ListenCipMaskAll, 0,
                     std::make_unique<TCallingPartyNumber>(0x00, 0x80, QByteArray()),
                     std::make_unique<TCallingPartySubAddress>(0x80, QByteArray()));
        QCOMPARE(encoded(m, 1), bytes("1d00010005800000010000007f000000fe03ff1f0000000002008001"
                                      "80"));
    }

    void listenReqAtShutDown()
    {
        TListenReq m(1, ListenInfoMask, ListenCipMaskStop, 0, TStruct::Empty(), TStruct::Empty());
        QCOMPARE(encoded(m, 3), bytes("1a00030005800000"
                                      "01000000"
                                      "7f000000"
                                      "02000000"
                                      "00000000"
                                      "00"
                                      "00"));
    }

    void connectResp()
    {
        TConnectResp accept(0x101, RejectAccept,
                            std::make_unique<TBProtocol>(1, 1, 0, TStruct::Empty(),
                                                         TStruct::Empty(), TStruct::Empty()),
                            TStruct::Empty(), TStruct::Empty(), TStruct::Empty(), TStruct::Empty());
        QCOMPARE(encoded(accept, 2), bytes("1c0002000283000001010000"
                                           "0000"
                                           "09010001000000000000"
                                           "00000000"));
        QCOMPARE(accept.Length(), size_t(28));

        TConnectResp ignore(0x101, RejectIgnore, TStruct::Empty(), TStruct::Empty(),
                            TStruct::Empty(), TStruct::Empty(), TStruct::Empty());
        QCOMPARE(encoded(ignore, 2), bytes("13000200028300000101000001000000000000"));
    }

    void everySendingClass_data()
    {
        QTest::addColumn<std::shared_ptr<TCapiMessage>>("message");
        QTest::addColumn<QByteArray>("expected");
        auto row = [](const char *name, TCapiMessage *m, const char *hex) {
            QTest::newRow(name) << std::shared_ptr<TCapiMessage>(m) << bytes(hex);
        };
        row("ALERT_REQ", new TAlertReq(0x201, TStruct::Empty()),
            "0d00000001800000"
            "01020000"
            "00");
        row("CONNECT_ACTIVE_RESP", new TConnectActiveResp(0x101),
            "0c00000003830000"
            "01010000");
        row("DISCONNECT_REQ", new TDisconnectReq(0x101, TStruct::Empty()),
            "0d0000000480000001010000"
            "00");
        row("DISCONNECT_RESP", new TDisconnectResp(0x101), "0c0000000483000001010000");
        row("INFO_RESP", new TInfoResp(0x101), "0c0000000883000001010000");
        row("FACILITY_RESP", new TFacilityResp(0x101, 0x0003, TStruct::Empty()),
            "0f0000008083000001010000"
            "0300"
            "00");
        row("CONNECT_B3_RESP", new TConnectB3Resp(0x10101, RejectNormalClearing, TStruct::Empty()),
            "0f0000008283000001010100"
            "0200"
            "00");
        row("CONNECT_B3_ACTIVE_RESP", new TConnectB3ActiveResp(0x10101),
            "0c0000008383000001010100");
        row("CONNECT_B3_T90_ACTIVE_RESP", new TConnectB3T90ActiveResp(0x10101),
            "0c0000008883000001010100");
        row("DATA_B3_RESP", new TDataB3Resp(0x10101, 0x1234),
            "0e0000008683000001010100"
            "3412");
        row("DISCONNECT_B3_REQ", new TDisconnectB3Req(0x10101, TStruct::Empty()),
            "0d0000008480000001010100"
            "00");
        row("DISCONNECT_B3_RESP", new TDisconnectB3Resp(0x10101), "0c0000008483000001010100");
        row("RESET_B3_RESP", new TResetB3Resp(0x10101), "0c0000008783000001010100");
    }

    void everySendingClass()
    {
        QFETCH(std::shared_ptr<TCapiMessage>, message);
        QFETCH(QByteArray, expected);
        QCOMPARE(encoded(*message), expected);
        QCOMPARE(message->Header.Length, uint16_t(expected.size()));
    }

    void structPrefixLengths()
    {
        TCallingPartySubAddress short254(0x80, QByteArray(253, 'x'));
        QCOMPARE(short254.ContentLength(), size_t(254));
        QCOMPARE(short254.TotalSize(), size_t(255));
        QCOMPARE(short254.Data()[0], uint8_t(254));

        TCallingPartySubAddress long255(0x80, QByteArray(254, 'x'));
        QCOMPARE(long255.ContentLength(), size_t(255));
        QCOMPARE(long255.TotalSize(), size_t(258));
        QCOMPARE(long255.Data()[0], uint8_t(0xFF));
        QCOMPARE(long255.Data()[1], uint8_t(0xFF));
        QCOMPARE(long255.Data()[2], uint8_t(0x00));
        QCOMPARE(long255.Data()[3], uint8_t(0x80));

        // A long struct decodes back through its word prefix.
        TCallingPartySubAddress view(long255.Data(), long255.TotalSize());
        QCOMPARE(view.Type, uint8_t(0x80));
        QCOMPARE(view.Text, QByteArray(254, 'x'));
        QVERIFY(!view.OwnsBuffer());

        auto empty = TStruct::Empty();
        QCOMPARE(empty->TotalSize(), size_t(1));
        QCOMPARE(empty->Data()[0], uint8_t(0));
    }

    void readBytesPastContent()
    {
        const QByteArray raw = bytes("03aabbcc");
        TStruct s(reinterpret_cast<const uint8_t *>(raw.constData()), size_t(raw.size()));
        uint8_t two[2] = {1, 1};
        s.ReadBytes(two, 2);
        QCOMPARE(two[0], uint8_t(0xaa));
        uint8_t more[2] = {1, 1};
        s.ReadBytes(more, 2); // only one byte left: zeroes, no advance
        QCOMPARE(more[0], uint8_t(0));
        QCOMPARE(more[1], uint8_t(0));
        QCOMPARE(s.ReadByte(), uint8_t(0xcc));
        s.Rewind();
        QCOMPARE(s.ReadByte(), uint8_t(0xaa));
    }

    void callingPartyNumbers_data()
    {
        QTest::addColumn<QByteArray>("encodedStruct");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("presentation");
        QTest::addColumn<QByteArray>("digits");
        QTest::newRow("empty") << bytes("00") << 0 << 0 << QByteArray();
        QTest::newRow("type only") << bytes("0121") << 0x21 << 0 << QByteArray();
        QTest::newRow("no digits") << bytes("022180") << 0x21 << 0x80 << QByteArray();
        QTest::newRow("digits") << bytes("0421803132") << 0x21 << 0x80 << QByteArray("12");
    }

    void callingPartyNumbers()
    {
        QFETCH(QByteArray, encodedStruct);
        QFETCH(int, type);
        QFETCH(int, presentation);
        QFETCH(QByteArray, digits);
        TCallingPartyNumber n(reinterpret_cast<const uint8_t *>(encodedStruct.constData()),
                              size_t(encodedStruct.size()));
        QCOMPARE(n.TypeOfNumber, uint8_t(type));
        QCOMPARE(n.Presentation, uint8_t(presentation));
        QCOMPARE(n.Digits, digits);
    }

    void connectInd()
    {
        // The CONNECT_IND of a remote controller, with a called number of type 0xC1.
        const QByteArray raw = bytes("2b00020002820140"
                                     "01010000"
                                     "1000"
                                     "05c131323334"
                                     "0b2183333031323334353637"
                                     "00"
                                     "00"
                                     "038090a3"
                                     "00"
                                     "029181"
                                     "00");
        auto m = decode(raw);
        QVERIFY(m);
        auto *ind = dynamic_cast<TConnectInd *>(m.get());
        QVERIFY(ind);
        QCOMPARE(ind->GetCommand(), CONNECT_IND);
        QCOMPARE(ind->Header.MessageNumber, uint16_t(0x4001));
        QCOMPARE(ind->PLCI, 0x101u);
        QCOMPARE(ind->CIPValue, uint16_t(16));
        QCOMPARE(ind->CalledPartyNumber->Type, uint8_t(0xC1));
        QCOMPARE(ind->CalledPartyNumber->Text, QByteArray("1234"));
        QCOMPARE(ind->CallingPartyNumber->TypeOfNumber, uint8_t(0x21));
        QCOMPARE(ind->CallingPartyNumber->Presentation, uint8_t(0x83));
        QCOMPARE(ind->CallingPartyNumber->Digits, QByteArray("301234567"));
        QCOMPARE(ind->BC->ContentLength(), size_t(3));
        QCOMPARE(ind->HLC->ContentLength(), size_t(2));
        QCOMPARE(ind->AdditionalInfo->ContentLength(), size_t(0));
    }

    void truncatedMessagesStayInside()
    {
        // Length says 22: the calling number's prefix (0x0b) runs past the end, so it and
        // everything after it read as empty.
        QByteArray raw = bytes("1600020002820140"
                               "01010000"
                               "1000"
                               "05c131323334"
                               "0b2183");
        raw.append(QByteArray(64, '\x55')); // bytes beyond Length must not be read
        auto m = decode(raw);
        auto *ind = dynamic_cast<TConnectInd *>(m.get());
        QVERIFY(ind);
        QCOMPARE(ind->CalledPartyNumber->Text, QByteArray("1234"));
        QCOMPARE(ind->CallingPartyNumber->Digits, QByteArray());
        QCOMPARE(ind->CallingPartyNumber->TypeOfNumber, uint8_t(0));
        QCOMPARE(ind->HLC->ContentLength(), size_t(0));

        // A word-length prefix cut off after its 0xFF.
        auto cut = decode(bytes("0f00020002820140"
                                "01010000"
                                "1000"
                                "ff"));
        QCOMPARE(dynamic_cast<TConnectInd *>(cut.get())->CalledPartyNumber->TotalSize(), size_t(1));

        // Fixed fields past Length read as 0.
        auto shortDisc = decode(bytes("0d00020004820140"
                                      "01010000"
                                      "90"));
        auto *disc = dynamic_cast<TDisconnectInd *>(shortDisc.get());
        QVERIFY(disc);
        QCOMPARE(disc->PLCI, 0x101u);
        QCOMPARE(disc->Reason, uint16_t(0));
    }

    void discardedMessages()
    {
        QVERIFY(!decode(bytes("0700020004820140")));             // Length below the header
        QVERIFY(!decode(bytes("0400")));                         // shorter than a header
        QVERIFY(!decode(bytes("4000020004820140010100009034"))); // Length beyond the bytes
        QVERIFY(!CreateCapiMessage(nullptr, 100));
    }

    void unknownCommandIsPlain()
    {
        auto m = decode(bytes("0e00020077820140"
                              "01010000"
                              "0000"));
        QVERIFY(m);
        QCOMPARE(m->GetCommand(), uint16_t(0x7782));
        QVERIFY(!dynamic_cast<TCapiConfirmation *>(m.get()));
        QCOMPARE(m->Length(), size_t(14));
    }

    void confirmations()
    {
        auto listen = decode(bytes("0e00010005810100"
                                   "01000000"
                                   "0220"));
        auto *lc = dynamic_cast<TListenConf *>(listen.get());
        QVERIFY(lc);
        QCOMPARE(lc->Address, 1u);
        QCOMPARE(lc->Info, uint16_t(0x2002));

        // DATA_B3_CONF carries its Info after the data handle.
        auto data = decode(bytes("1000010086810100"
                                 "01010100"
                                 "3412"
                                 "0b30"));
        auto *dc = dynamic_cast<TDataB3Conf *>(data.get());
        QVERIFY(dc);
        QCOMPARE(dc->GetCommand(), uint16_t(0x8681));
        QCOMPARE(dc->DataHandle, uint16_t(0x1234));
        QCOMPARE(dc->Info, uint16_t(0x300b));

        auto facility = decode(bytes("1100010080810100"
                                     "01010000"
                                     "0000"
                                     "0300"
                                     "00"));
        auto *fc = dynamic_cast<TFacilityConf *>(facility.get());
        QVERIFY(fc);
        QCOMPARE(fc->FacilitySelector, uint16_t(3));
    }

    void indications()
    {
        auto b3 = decode(bytes("0f00010084820100"
                               "01010100"
                               "0133"
                               "00"));
        auto *d = dynamic_cast<TDisconnectB3Ind *>(b3.get());
        QVERIFY(d);
        QCOMPARE(d->NCCI, 0x10101u);
        QCOMPARE(d->ReasonB3, uint16_t(0x3301));

        auto data = decode(bytes("1600010086820100"
                                 "01010100"
                                 "78563412"
                                 "0400"
                                 "0700"
                                 "0100"));
        auto *di = dynamic_cast<TDataB3Ind *>(data.get());
        QVERIFY(di);
        QCOMPARE(di->DataLength, uint16_t(4));
        QCOMPARE(di->DataHandle, uint16_t(7));
        QCOMPARE(di->Flags, uint16_t(1));

        auto facility = decode(bytes("1100010080820100"
                                     "01010000"
                                     "0300"
                                     "020102"));
        auto *fi = dynamic_cast<TFacilityInd *>(facility.get());
        QVERIFY(fi);
        QCOMPARE(fi->FacilitySelector, uint16_t(3));
        QCOMPARE(fi->FacilityIndicationParameter->ContentLength(), size_t(2));
    }

    void infoTexts()
    {
        QCOMPARE(CapiInfoText(0), QStringLiteral("No error"));
        QCOMPARE(CapiInfoText(0x3480),
                 QStringLiteral("Normal disconnect, no cause given by network ($3480)"));
        QCOMPARE(CapiInfoText(0x2002), QStringLiteral("Illegal PLCI ($2002)"));
        // What libcapi20 answers when no CAPI is installed.
        QCOMPARE(CapiInfoText(0x1009), QStringLiteral("CAPI not installed ($1009)"));
        QCOMPARE(CapiInfoText(0x1234), QStringLiteral("unknown error ($1234)"));
        QCOMPARE(CapiInfoText(0x12345), QStringLiteral("unknown error ($12345)"));
        QCOMPARE(CapiInfoText(0x34bb), QStringLiteral("User busy ($34BB)"));
        QCOMPARE(CapiInfoText(0x4202),
                 QStringLiteral("Stollmann: can't deinstall, application still active ($4202)"));
        QCOMPARE(CapiInfoText(0x5), QStringLiteral("unknown error ($0005)"));
    }

    void cipTexts()
    {
        QCOMPARE(CipValueText(0), QStringLiteral("no predefined profile"));
        QCOMPARE(CipValueText(9),
                 QStringLiteral("unrestricted digital information with tones/announcements"));
        QCOMPARE(CipValueText(10), QString());
        QCOMPARE(CipValueText(15), QString());
        QCOMPARE(CipValueText(16), QStringLiteral("telephony"));
        QCOMPARE(CipValueText(28), QStringLiteral("Video Telephony F.721, second connection"));
        QCOMPARE(CipValueText(29), QString());
    }

    void statusTextsNameTheLibrary()
    {
        qputenv("CORVANE_CAPI_LIBRARY", "/opt/isdn/libcapi20.so.3");
        QCOMPARE(CapiDllStatusText(CapiDllNotFound),
                 QStringLiteral("File \"/opt/isdn/libcapi20.so.3\" not found."));
        QCOMPARE(CapiDllStatusText(CapiDllNotLoaded),
                 QStringLiteral("/opt/isdn/libcapi20.so.3 not loaded."));
        qunsetenv("CORVANE_CAPI_LIBRARY");
        QCOMPARE(CapiDllStatusText(CapiDllNotFound),
                 QStringLiteral("File \"libcapi20.so.3\" not found."));
        QCOMPARE(CapiDllStatusText(CapiDllInstalled),
                 QStringLiteral("CAPI 2.0 (32 Bit) installed"));
        QCOMPARE(CapiDllStatusText(CapiDllNotInstalled),
                 QStringLiteral("CAPI 2.0 (32 Bit) not installed."));
        QCOMPARE(CapiDllStatusText(7), QString());
        QCOMPARE(MessageBufferSize(1), 2048u);
    }

    void connectionTable()
    {
        TConnections table;
        TConnection *a = table.Add();
        a->PLCI = 0x101;
        TConnection *b = table.Add();
        b->PLCI = 0x201;
        b->NCCI = 0x10201;
        int owner = 0;
        b->Owner = &owner;
        QCOMPARE(table.Count(), 2);
        QCOMPARE(table.FindByPLCI(0x201), b);
        QCOMPARE(table.FindByNCCI(0x10201), b);
        QCOMPARE(table.FindByOwner(&owner), b);
        QCOMPARE(table.FindByPLCI(0x301), nullptr);

        TConnection *gone = a;
        table.Remove(gone);
        QCOMPARE(gone, nullptr);
        QCOMPARE(table.Count(), 1);
        TConnection *stale = a; // already destroyed: only compared, never read
        QVERIFY(!table.Contains(stale));
        QCOMPARE(stale, nullptr);
        TConnection *present = b;
        QVERIFY(table.Contains(present));
        QCOMPARE(present, b);
    }
};

QTEST_GUILESS_MAIN(TestCodec)
#include "tst_codec.moc"
