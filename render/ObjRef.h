// Intrusive reference counting for the renderer object.
//
// A job's page path holds its renderer. The object is born with a count of 1,
// which the smart pointer adopts (MakeRefPtr), so the renderer dies with the
// page path.
#pragma once

struct IObjRef {
    virtual long AddRef() = 0;
    virtual long Release() = 0;
    virtual void OnFinalRelease() = 0;
};

template <class T> class TObjRefImpl : public T {
public:
    TObjRefImpl() : m_nRef(1) {}
    virtual ~TObjRefImpl() {}

    long AddRef() override { return ++m_nRef; }

    long Release() override
    {
        long n = --m_nRef;
        if (n == 0)
            OnFinalRelease();
        return n;
    }

    void OnFinalRelease() override { delete this; }

    int GetRefCount() const { return m_nRef; }

protected:
    int m_nRef;
};

// Wraps a freshly created object so that assigning it to a CStdRefPtr adopts
// the object's initial reference instead of adding one.
template <class T> struct MakeRefPtr {
    explicit MakeRefPtr(T *p) : m_p(p) {}
    T *m_p;
};

template <class T> class CStdRefPtr {
public:
    CStdRefPtr() : m_p(nullptr) {}
    ~CStdRefPtr()
    {
        if (m_p)
            m_p->Release();
    }
    CStdRefPtr(const CStdRefPtr &) = delete;
    CStdRefPtr &operator=(const CStdRefPtr &) = delete;

    T *operator=(const MakeRefPtr<T> &ref)
    {
        if (ref.m_p != m_p) {
            if (m_p)
                m_p->Release();
            m_p = ref.m_p;
        }
        return m_p;
    }

    T *operator->() const { return m_p; }
    operator T *() const { return m_p; }
    bool operator==(T *p) const { return m_p == p; }
    bool operator!=(T *p) const { return m_p != p; }

private:
    T *m_p;
};
