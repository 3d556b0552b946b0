#pragma once

// The root of the library's classes. It carries the status word whose bit of value 1 marks
// a consistent (valid) object and whose bit of value 2 marks an object ready for inference;
// derived classes recompute those bits in their consistency and readiness checks.
class QNL_object {
public:
    static constexpr int STATUS_VALID = 1;
    static constexpr int STATUS_READY = 2;

    QNL_object() = default;
    QNL_object(const QNL_object&) = default;
    QNL_object& operator=(const QNL_object&) = default;
    virtual ~QNL_object() { status |= STATUS_VALID; }

    // Emptying and the two checks: whether the object is consistent, and ready for use.
    virtual int CleanUp(int deep = 1);
    virtual int CheckConsistency(int deep = 1);
    virtual int CheckReadiness(int deep = 1);

    // The status bits of the last checks.
    int GetStatus() const { return status; }
    bool IsValid() const { return (status & STATUS_VALID) != 0; }
    bool IsReady() const { return (status & STATUS_READY) != 0; }

protected:
    // Constructors of derived classes start from "ready but not yet valid" and set the
    // valid bit once their own construction has succeeded.
    int status = STATUS_READY | STATUS_VALID;
};
