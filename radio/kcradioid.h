#pragma once

#include <QString>
#include <optional>

// Radio IDs: generation of a fresh ID and the rule by which a typed ID is
// accepted for configuration.
namespace KcRadioId {

constexpr quint64 MaxId = 4294967295ULL;

// The ID made of two draws in 0..32767: 1000000000 + r1 * 100000 + r2.
quint64 fromDraws(quint32 r1, quint32 r2);
// Seeds a generator with seed and draws two numbers in 0..32767, so equal
// seeds (the same millisecond) give equal IDs.
quint64 generate(quint32 seed);

// The digits to send for the text of an ID field: surrounding white space
// removed, 1 to 10 ASCII decimal digits, value at most 4294967295. Leading
// zeros stay, as a radio may report them. Anything else is refused.
std::optional<QString> acceptedDigits(const QString &text);

} // namespace KcRadioId
