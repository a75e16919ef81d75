#include "URLInput.h"

#include <QTest>

class TestURLInput : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void extract_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("links");

        QTest::newRow("empty") << QString() << QStringList();
        QTest::newRow("only separators") << u" ,\n\t,\u00a0\u2028 "_qs << QStringList();
        QTest::newRow("one link") << u"https://example.com/watch?v=1"_qs
                                  << QStringList{u"https://example.com/watch?v=1"_qs};
        QTest::newRow("commas without blanks")
            << u"https://a.com/1,https://b.com/2,,https://c.com/3"_qs
            << QStringList{u"https://a.com/1"_qs, u"https://b.com/2"_qs, u"https://c.com/3"_qs};
        QTest::newRow("every kind of blank")
            << u"https://a.com/1\u00a0https://b.com/2\u2003https://c.com/3\r\nhttps://d.com/4"_qs
            << QStringList{u"https://a.com/1"_qs, u"https://b.com/2"_qs, u"https://c.com/3"_qs,
                           u"https://d.com/4"_qs};
        QTest::newRow("angle brackets")
            << u"<https://a.com/x>"_qs << QStringList{u"https://a.com/x"_qs};
        QTest::newRow("quotes") << u"\"'https://a.com/x'\""_qs
                                << QStringList{u"https://a.com/x"_qs};
        QTest::newRow("wrappers inside stay")
            << u"https://a.com/x'y"_qs << QStringList{u"https://a.com/x'y"_qs};
        QTest::newRow("parenthesis and full stop stay")
            << u"(see https://a.com/x). https://b.com/y."_qs
            << QStringList{u"https://a.com/x)."_qs, u"https://b.com/y."_qs};
        QTest::newRow("no scheme gets https")
            << u"youtube.com/watch?v=abc"_qs << QStringList{u"https://youtube.com/watch?v=abc"_qs};
        QTest::newRow("word without full stop") << u"hello world"_qs << QStringList();
        QTest::newRow("capital scheme accepted")
            << u"HTTP://Example.com/Path"_qs << QStringList{u"http://example.com/Path"_qs};
        QTest::newRow("bare machine name") << u"http://localhost/x"_qs << QStringList();
        QTest::newRow("other schemes")
            << u"ftp://a.com/x file:///tmp/a.mp4 javascript://a.com/x"_qs << QStringList();
        QTest::newRow("duplicate keeps first place")
            << u"https://a.com/1 https://b.com/2 https://a.com/1"_qs
            << QStringList{u"https://a.com/1"_qs, u"https://b.com/2"_qs};
        QTest::newRow("trailing slash is another link")
            << u"https://a.com https://a.com/"_qs
            << QStringList{u"https://a.com"_qs, u"https://a.com/"_qs};
        QTest::newRow("scheme-less and explicit duplicate")
            << u"a.com/x https://a.com/x"_qs << QStringList{u"https://a.com/x"_qs};
        QTest::newRow("link in prose")
            << u"Look at this: https://vimeo.com/123, and <https://a.org/b?c=d&e=f>!"_qs
            << QStringList{u"https://vimeo.com/123"_qs, u"https://a.org/b?c=d&e=f%3E!"_qs};
        QTest::newRow("user info is no scheme")
            << u"mailto:me@a.com"_qs << QStringList{u"https://mailto:me@a.com"_qs};
        QTest::newRow("only wrappers") << u"<> '' \"\""_qs << QStringList();
        QTest::newRow("unparsable host") << u"http://[::1/x"_qs << QStringList();
    }

    void extract() {
        QFETCH(QString, text);
        QFETCH(QStringList, links);
        QStringList got;
        for (const QUrl &url : URLInput::extract(text))
            got.append(url.toString(QUrl::FullyEncoded));
        QCOMPARE(got, links);
    }

    void acceptedLinksAreAbsoluteWebUrls() {
        const auto links = URLInput::extract(u"a.b x.y/z http://q.r:8080/s?t#u"_qs);
        QCOMPARE(links.size(), 3);
        for (const QUrl &url : links) {
            QVERIFY(url.isValid());
            QVERIFY(!url.isRelative());
            QVERIFY(url.host().contains(u'.'));
        }
    }
};

QTEST_GUILESS_MAIN(TestURLInput)
#include "tst_urlinput.moc"
