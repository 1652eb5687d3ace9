// What a host sees through the public header alone.
#include <gtest/gtest.h>
#include <qzbase.h>

namespace qzbase {
namespace {

TEST(PublicHeader, CreateObjectOfAnUnknownClassIs1733) {
  Screen* screen = CreateScreen(0);
  Runtime* runtime = CreateRuntime(screen);
  VmStack* stack = nullptr;
  ASSERT_EQ(GetMainStack(runtime, &stack), 0);
  int code = 0;
  std::string detail;
  try {
    ObjectPointer p = CreateObject(stack, String("NoSuchClassAnywhere"), nullptr, 0);
  } catch (const RuntimeError& e) {
    code = e.code;
    detail = e.detail.u8str();
  }
  EXPECT_EQ(code, 1733);
  EXPECT_EQ(detail, "NoSuchClassAnywhere");
  ObjectPointer custom = CreateObject(stack, String("custom"), nullptr, 0);
  EXPECT_NE(custom.get(), nullptr);
  custom.release(stack);
  ReleaseRuntime(runtime);
  ReleaseScreen(screen);
}

}  // namespace
}  // namespace qzbase
