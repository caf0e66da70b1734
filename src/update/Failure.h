#pragma once

#include "platform/Error.h"

namespace pinlark {

// The installer's errors; the description is the text the user sees.
class Failure : public Error {
public:
    enum class Kind {
        blocked,
        wrongVersion,
        notAnUpgrade,
        deferred,
        download,
        corrupt,
        unpack,
        brokenSignature
    };

    static Failure blocked(QString message) { return {Kind::blocked, std::move(message), {}}; }
    static Failure wrongVersion(QString expected, QString found) {
        return {Kind::wrongVersion, std::move(expected), std::move(found)};
    }
    static Failure notAnUpgrade(QString found) {
        return {Kind::notAnUpgrade, {}, std::move(found)};
    }
    static Failure deferred() { return {Kind::deferred, {}, {}}; }
    static Failure download() { return {Kind::download, {}, {}}; }
    static Failure corrupt() { return {Kind::corrupt, {}, {}}; }
    static Failure unpack() { return {Kind::unpack, {}, {}}; }
    static Failure brokenSignature() { return {Kind::brokenSignature, {}, {}}; }

    Kind kind() const { return m_kind; }
    QString localizedDescription() const override;

private:
    Failure(Kind kind, QString first, QString second)
        : m_kind(kind)
        , m_first(std::move(first))
        , m_second(std::move(second)) {}

    Kind m_kind;
    // The message of `blocked`, the expected version of `wrongVersion`.
    QString m_first;
    // The found version of `wrongVersion` and `notAnUpgrade`.
    QString m_second;
};

} // namespace pinlark
