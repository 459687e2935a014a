#pragma once

#include <QByteArray>
#include <QHash>

// Every byte received from a radio since the buffer was last cleared.
// Replies are recognised by substring search over the whole buffer; the
// searches here remember how far they have looked, so a long stream of data
// costs each byte one look per token instead of a rescan at every chunk.
// Results are exactly those of a search over the whole buffer, tokens split
// across chunks included.
class KcReplyBuffer
{
public:
    void append(const QByteArray &chunk);
    void clear();

    const QByteArray &bytes() const { return mBytes; }
    int size() const { return mBytes.size(); }
    bool isEmpty() const { return mBytes.isEmpty(); }

    bool contains(const QByteArray &token) const { return count(token) > 0; }
    // Non-overlapping occurrences of token.
    int count(const QByteArray &token) const;
    // The radio's greeting anywhere in the buffer.
    bool hasRadioBanner() const;

private:
    struct Scan
    {
        int nextFrom = 0; // every match starting before this has been counted
        int count = 0;
    };

    QByteArray mBytes;
    mutable QHash<QByteArray, Scan> mScans;
};
