// libFuzzer target for the reply handling that sees the radio's raw bytes:
// the settings-listing parsers, and the incremental reply buffer fed the
// input as a stream of chunks. Every check compares against a plain
// reference that is obviously right, and aborts on any difference.
#include "kcradioprotocol.h"
#include "kcreplybuffer.h"
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

// The listing rules worked on the raw bytes. Every byte that delimits an
// entry is ASCII, and a UTF-8 decoder never folds an ASCII byte into a
// multi-byte character, so tokens cut from the bytes must decode to the
// tokens the parsers cut from the decoded text.
QByteArray referenceToken(const QByteArray &listing, const char *name, bool cutAtLineEnd)
{
    const int zero = listing.indexOf('\0');
    const QByteArray text = zero < 0 ? listing : listing.left(zero);
    const int start = text.indexOf(name);
    if (start < 0)
        return QByteArray();
    const int blank = text.indexOf(' ', start);
    QByteArray token = text.mid(start, blank < 0 ? -1 : blank - start);
    if (cutAtLineEnd) {
        const int lineEnd = token.indexOf("\r\n");
        if (lineEnd >= 0)
            token.truncate(lineEnd);
    }
    return token;
}

QString referenceRadioID(const QByteArray &listing)
{
    const QByteArray token = referenceToken(listing, "S104", true);
    if (token.size() < 5 || !token.contains('='))
        return QString();
    return QString::fromUtf8(token.mid(token.lastIndexOf('=') + 1));
}

int referenceBaudRateFlag(const QByteArray &listing)
{
    const QByteArray token = referenceToken(listing, "S102", false);
    if (token.size() < 5 || !token.contains('='))
        return KcSettingsListing::NoBaudRateFlag;
    bool ok = false;
    const int flag = QString::fromUtf8(token.mid(token.lastIndexOf('=') + 1)).trimmed().toInt(&ok);
    return ok ? flag : 0;
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

// Feeds the rest of the input to a reply buffer in chunks whose sizes and
// queries are drawn from the input itself, checking after every chunk the
// searches the buffer answers incrementally. Alongside, it plays the
// reader's reply handling: the listing counts as complete at the first chunk
// that leaves "OK" in the buffer, and is then parsed and cleared.
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
    while (at < input.size()) {
        const unsigned char control = static_cast<unsigned char>(input.at(at++));
        if (control == 0xff) {
            buffer.clear();
            mirror.clear();
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
