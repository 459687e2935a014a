#include "kcreplybuffer.h"

#include <algorithm>

void KcReplyBuffer::append(const QByteArray &chunk)
{
    mBytes.append(chunk);
}

void KcReplyBuffer::clear()
{
    mBytes.clear();
    mScans.clear();
}

int KcReplyBuffer::count(const QByteArray &token) const
{
    if (token.isEmpty())
        return 0;
    Scan &scan = mScans[token];
    int from = scan.nextFrom;
    for (;;) {
        const int at = mBytes.indexOf(token, from);
        if (at < 0)
            break;
        ++scan.count;
        from = at + token.size();
    }
    // A match that starts at or after this point is not complete yet.
    scan.nextFrom = std::max(from, int(mBytes.size() - token.size()) + 1);
    return scan.count;
}

bool KcReplyBuffer::hasRadioBanner() const
{
    return contains("Welcome") && (contains("V300") || contains("Radio"));
}
