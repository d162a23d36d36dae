#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ostra/norvikqos/core/cpCMutex.h"
#include "ostra/norvikqos/object/qvCString.h"
#include "ostra/norvikqos/object/qvCStringSplitter.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

namespace {

// Counts destructions so tests can see exactly when the last reference went.
class Probe : public qvCUnknown {
  public:
    explicit Probe(int* destroyed) : destroyed_(destroyed) {}
    ~Probe() override { ++*destroyed_; }

  private:
    int* destroyed_;
};

TEST(ObjectModelTest, SmartPointerHoldsExactlyOneReference) {
    int destroyed = 0;
    {
        qvSmartPtr<Probe> a = qvMakeObject<Probe>(&destroyed);
        EXPECT_EQ(a->RefCount(), 1u);
        qvSmartPtr<Probe> b = a;
        EXPECT_EQ(a->RefCount(), 2u);
        b.Reset();
        EXPECT_EQ(a->RefCount(), 1u);
        // Assigning the object it already holds keeps it alive, even as the only holder.
        a = a.Get();
        a = a;
        EXPECT_EQ(destroyed, 0);
        EXPECT_EQ(a->RefCount(), 1u);
        qvSmartPtr<Probe> moved = std::move(a);
        EXPECT_FALSE(a);
        EXPECT_EQ(moved->RefCount(), 1u);
        moved = qvMakeObject<Probe>(&destroyed);
        EXPECT_EQ(destroyed, 1);
    }
    EXPECT_EQ(destroyed, 2);
}

TEST(ObjectModelTest, FactoryMakesKnownIdsAndRefusesOthers) {
    qvSmartPtr<cpCMutex> mutex;
    ASSERT_TRUE(mutex.CreateInstance(qvClassId::kMutex));
    EXPECT_EQ(mutex->RefCount(), 1u);
    EXPECT_EQ(mutex->Lock(), qv::kOk);
    EXPECT_EQ(mutex->Lock(), qv::kOk);  // recursive
    mutex->Unlock();
    mutex->Unlock();

    qvSmartPtr<> unknown;
    EXPECT_FALSE(unknown.CreateInstance(0x7777));
    EXPECT_FALSE(unknown);
    // An id whose class lacks the requested face leaves the pointer empty too.
    EXPECT_FALSE(mutex.CreateInstance(qvClassId::kTimer));
    EXPECT_FALSE(mutex);

    qvSmartPtr<> any;
    ASSERT_TRUE(any.CreateInstance(qvClassId::kMutex));
    void* face = reinterpret_cast<void*>(1);
    EXPECT_FALSE(any.QueryInterface(0x2016, &face));
    EXPECT_EQ(face, nullptr);
}

TEST(ObjectModelTest, StringKeepsShortTextInline) {
    qvCString s("abc");
    EXPECT_TRUE(s.IsInline());
    s.Append("d");
    EXPECT_FALSE(s.IsInline());
    EXPECT_STREQ(s.CStr(), "abcd");
    EXPECT_EQ(s.Length(), 4u);
    s.Assign("xy");
    EXPECT_TRUE(s.IsInline());
    EXPECT_STREQ(s.CStr(), "xy");
    s.Assign(nullptr);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_STREQ(s.CStr(), "");

    // Assigning a part of itself.
    qvCString self("hello world");
    self.Assign(self.CStr() + 6, 5);
    EXPECT_STREQ(self.CStr(), "world");
    self.Assign(self.CStr() + 1, 2);
    EXPECT_STREQ(self.CStr(), "or");
}

TEST(ObjectModelTest, SubstringFindCompareAndLower) {
    const qvCString s("abcdef");
    EXPECT_STREQ(s.Substring(2, 10).CStr(), "cdef");
    EXPECT_TRUE(s.Substring(7, 1).IsEmpty());
    EXPECT_TRUE(s.Substring(0, 0x100001).IsEmpty());
    EXPECT_STREQ(s.Substring(6, 3).CStr(), "");
    EXPECT_EQ(s.Find("cd"), 2);
    EXPECT_EQ(s.Find("cd", 3), -1);
    EXPECT_EQ(s.Find("a", 7), -1);
    EXPECT_LT(qvCString("abc").Compare(qvCString("abd")), 0);
    EXPECT_TRUE(qvCString("x") == qvCString('x'));

    qvCString mixed("AbC\xC7\xD1Z");
    mixed.ToLower();
    EXPECT_STREQ(mixed.CStr(), "abc\xC7\xD1z");

    qvCString copy(s);
    qvCString moved(std::move(copy));
    EXPECT_STREQ(moved.CStr(), "abcdef");
    EXPECT_TRUE(copy.IsEmpty());
}

TEST(ObjectModelTest, SplitterDropsEmptyPieces) {
    struct Case {
        const char* text;
        char separator;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {",a,,b,", ',', {"a", "b"}},
        {"a|b|c", '|', {"a", "b", "c"}},
        {"", ',', {}},
        {",,,", ',', {}},
        {"single", ',', {"single"}},
    };
    for (const Case& c : cases) {
        qvCStringSplitter splitter;
        splitter.Split(c.text, c.separator);
        std::vector<std::string> got;
        while (splitter.HasMore())
            got.emplace_back(splitter.Next().CStr());
        EXPECT_EQ(got, c.tokens) << c.text;
        EXPECT_TRUE(splitter.Next().IsEmpty());
    }
}

}  // namespace
