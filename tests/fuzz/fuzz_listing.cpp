// libFuzzer target for the reply handling that sees the radio's raw bytes:
// the settings-listing parsers, and the incremental reply buffer fed the
// input as a stream of chunks. Every check compares against a plain
// reference that is obviously right, and aborts on any difference.
#include "kcradioprotocol.h"
#include "kcreplybuffer.h"
#include "kcreplytracker.h"
#include "kcsettingslisting.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_listing: mismatch: %s\n", what);
        std::abort();
    }
}

// Greedy left-to-right count of non-overlapping occurrences.
int referenceCount(const QByteArray &haystack, const QByteArray &token)
{
    if (token.isEmpty())
        return 0;
    int count = 0;
    for (int at = haystack.indexOf(token); at >= 0; at = haystack.indexOf(token, at + token.size()))
        ++count;
    return count;
}

// The listing rules worked on the raw bytes: the text ends at the first zero
// byte; an entry's value follows "S<nnn>=" and ends at a blank, tab, CR or
// LF. Every delimiter is ASCII, and a UTF-8 decoder never folds an ASCII byte
// into a multi-byte character, so values cut from the bytes must decode to
// the values the parsers report.
bool referenceValue(const QByteArray &listing, const char *name, QByteArray *value)
{
    const int zero = listing.indexOf('\0');
    const QByteArray text = zero < 0 ? listing : listing.left(zero);
    const int start = text.indexOf(name);
    if (start < 0)
        return false;
    value->clear();
    for (int i = start + int(qstrlen(name)); i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            break;
        value->append(c);
    }
    return true;
}

QString referenceRadioID(const QByteArray &listing)
{
    QByteArray value;
    return referenceValue(listing, "S104=", &value) ? QString::fromUtf8(value) : QString();
}

int referenceBaudRateFlag(const QByteArray &listing)
{
    QByteArray value;
    if (!referenceValue(listing, "S102=", &value))
        return KcSettingsListing::NoBaudRateFlag;
    bool ok = false;
    const int flag = QString::fromUtf8(value).toInt(&ok);
    return ok ? flag : 0;
}

// The reply lines of a whole window at once: split at every CR and LF; the
// text after the last one is the line still open. With continuing, the text
// before the first line end is the rest of a line that began before the
// window: no line of it.
void referenceLines(const QByteArray &window, bool continuing, bool *ok, bool *error,
                    QByteArray *open)
{
    QByteArray unified = window;
    const QList<QByteArray> lines = unified.replace('\r', '\n').split('\n');
    *ok = *error = false;
    for (int i = continuing ? 1 : 0; i + 1 < lines.size(); ++i) {
        *ok = *ok || lines.at(i).trimmed() == "OK";
        *error = *error || lines.at(i).trimmed() == "ERROR";
    }
    *open = lines.last().trimmed();
}

void checkParsers(const QByteArray &listing)
{
    check(KcSettingsListing::parseRadioID(listing) == referenceRadioID(listing), "parseRadioID");
    check(KcSettingsListing::parseBaudRateFlag(listing) == referenceBaudRateFlag(listing),
          "parseBaudRateFlag");
}

const char *const FixedTokens[] = {
    "OK",  "NO CARRIER", "ATA", "Welcome", "V300", "Radio", "CONNECT 115200",
    "+++", "aa",         "aaa", "abab",    "\r\n"};
constexpr int FixedTokenCount = int(sizeof(FixedTokens) / sizeof(FixedTokens[0]));

// Feeds the rest of the input to a reply buffer and a reply tracker in
// chunks whose sizes and queries are drawn from the input itself, checking
// after every chunk the searches the buffer answers incrementally and the
// tracker's verdict on the window against one made from the whole window, so
// that no chunking can change what a command's answer counts as. A control
// byte 0xff starts a new window.
void checkReplyStream(const QByteArray &input)
{
    if (input.size() < 2)
        return;
    // The first byte picks a token of the input's own (1 to 4 bytes long).
    const int ownLength = 1 + (static_cast<unsigned char>(input.at(0)) & 3);
    const QByteArray ownToken = input.mid(1, ownLength);
    int at = 1 + ownLength;

    KcReplyBuffer buffer;
    QByteArray mirror; // the same bytes, searched from scratch
    KcReplyTracker tracker;
    tracker.commandWritten(QStringLiteral("AT"));
    QByteArray window;       // the bytes of the tracker's open window
    bool continuing = false; // the window began inside a line
    bool lineBegun = false;  // bytes came since the last line end
    while (at < input.size()) {
        const unsigned char control = static_cast<unsigned char>(input.at(at++));
        if (control == 0xff) {
            buffer.clear();
            mirror.clear();
            tracker.commandWritten(QStringLiteral("AT"));
            window.clear();
            continuing = lineBegun;
            continue;
        }
        const int length = control & 0x3f;
        const QByteArray chunk = input.mid(at, length);
        at += chunk.size();
        buffer.append(chunk);
        mirror.append(chunk);
        check(buffer.bytes() == mirror, "buffer bytes");

        // Query only some tokens after each chunk, so that scans resume from
        // positions of several appends ago.
        const int pick = control >> 6;
        for (int i = pick; i < FixedTokenCount; i += 1 + pick) {
            const QByteArray token(FixedTokens[i]);
            check(buffer.count(token) == referenceCount(mirror, token), "count");
            check(buffer.contains(token) == mirror.contains(token), "contains");
        }
        check(buffer.count(ownToken) == referenceCount(mirror, ownToken), "count of own token");
        // "OK" cannot overlap itself: the framework's own count must agree.
        check(buffer.count("OK") == mirror.count("OK"), "count of OK");
        check(buffer.hasRadioBanner() == KcRadioProtocol::hasRadioBanner(mirror), "banner");

        tracker.bytesReceived(chunk);
        window.append(chunk);
        const int lineEnd = qMax(chunk.lastIndexOf('\r'), chunk.lastIndexOf('\n'));
        lineBegun = lineEnd + 1 < chunk.size() || (lineEnd < 0 && lineBegun);
        bool ok = false, error = false;
        QByteArray open;
        referenceLines(window, continuing, &ok, &error, &open);
        const KcReplyTracker::Window &tracked = tracker.windows().last();
        check(tracked.ok == ok, "OK line");
        check(tracked.error == error, "ERROR line");
        // Lines are bounded in length; compare only those within the bound.
        if (open.size() < 4096)
            check(tracker.pendingLine() == open, "open line");
        if (window.size() <= 65536)
            check(tracked.bytes == window, "window bytes");
        if (buffer.contains(KcRadioProtocol::OkToken)) {
            checkParsers(buffer.bytes());
            buffer.clear();
            mirror.clear();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    checkParsers(input);
    checkReplyStream(input);
    return 0;
}
