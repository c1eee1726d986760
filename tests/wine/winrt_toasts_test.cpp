// The Windows Runtime interfaces of the toasts, declared by hand in client/win32/winrt_toasts.h,
// against the Windows SDK's ABI as published in its generated headers (windows.ui.notifications.h,
// windows.data.xml.dom.h): every IID, and the vtable slot of every method the client declares. Wine
// has no toasts, so a wrong slot or IID would first show on a user's Windows.
#include <gtest/gtest.h>

#include "core/win32/windows_api.h"

#include <objbase.h>

#include <array>
#include <functional>
#include <string>
#include <utility>

#include "client/win32/winrt_toasts.h"

namespace korvex {
namespace {

namespace rt = win32::winrt;

// An object whose vtable entry N records N when called: calling a method through one of our
// declarations tells which slot the declaration reaches. IUnknown and IInspectable take slots 0
// to 5, so an interface's own methods start at 6.
int g_slot = -1;

template <int N>
HRESULT STDMETHODCALLTYPE Record(void*) {
  g_slot = N;
  return S_OK;
}

template <int... N>
constexpr std::array<void*, sizeof...(N)> Table(std::integer_sequence<int, N...>) {
  return {reinterpret_cast<void*>(&Record<N>)...};
}

const std::array<void*, 40> kTable = Table(std::make_integer_sequence<int, 40>());
struct Recorder {
  const void* const* vtable = kTable.data();
};

template <typename Interface>
int SlotOf(const std::function<void(Interface&)>& call) {
  Recorder recorder;
  g_slot = -1;
  void* object = &recorder;
  call(*static_cast<Interface*>(object));
  return g_slot;
}

struct SlotCase {
  const char* method;
  int slot;  // in the SDK's declaration
  int declared;
};

template <typename Interface>
SlotCase Slot(const char* method, int slot, std::function<void(Interface&)> call) {
  return {method, slot, SlotOf<Interface>(call)};
}

TEST(WinRtToasts, EveryDeclaredMethodSitsInTheSlotOfTheSdksDeclaration) {
  const SlotCase cases[] = {
      Slot<rt::IToastNotificationManagerStatics>("IToastNotificationManagerStatics.CreateToastNotifier", 6,
                                                 [](auto& i) { i.CreateToastNotifier(nullptr); }),
      Slot<rt::IToastNotificationManagerStatics>("IToastNotificationManagerStatics.CreateToastNotifierWithId", 7,
                                                 [](auto& i) { i.CreateToastNotifierWithId(nullptr, nullptr); }),
      Slot<rt::IToastNotificationManagerStatics>("IToastNotificationManagerStatics.GetTemplateContent", 8,
                                                 [](auto& i) { i.GetTemplateContent(rt::kToastText01, nullptr); }),
      Slot<rt::IToastNotifier>("IToastNotifier.Show", 6, [](auto& i) { i.Show(nullptr); }),
      Slot<rt::IToastNotifier>("IToastNotifier.Hide", 7, [](auto& i) { i.Hide(nullptr); }),
      Slot<rt::IToastNotificationFactory>("IToastNotificationFactory.CreateToastNotification", 6,
                                          [](auto& i) { i.CreateToastNotification(nullptr, nullptr); }),
      Slot<rt::IToastNotification>("IToastNotification.get_Content", 6, [](auto& i) { i.get_Content(nullptr); }),
      Slot<rt::IToastNotification>("IToastNotification.put_ExpirationTime", 7,
                                   [](auto& i) { i.put_ExpirationTime(nullptr); }),
      Slot<rt::IToastNotification>("IToastNotification.get_ExpirationTime", 8,
                                   [](auto& i) { i.get_ExpirationTime(nullptr); }),
      Slot<rt::IToastNotification>("IToastNotification.add_Dismissed", 9,
                                   [](auto& i) { i.add_Dismissed(nullptr, nullptr); }),
      Slot<rt::IToastNotification>("IToastNotification.remove_Dismissed", 10,
                                   [](auto& i) { i.remove_Dismissed({}); }),
      Slot<rt::IToastNotification>("IToastNotification.add_Activated", 11,
                                   [](auto& i) { i.add_Activated(nullptr, nullptr); }),
      Slot<rt::IToastNotification>("IToastNotification.remove_Activated", 12,
                                   [](auto& i) { i.remove_Activated({}); }),
      Slot<rt::IToastNotification>("IToastNotification.add_Failed", 13, [](auto& i) { i.add_Failed(nullptr, nullptr); }),
      Slot<rt::IToastNotification>("IToastNotification.remove_Failed", 14, [](auto& i) { i.remove_Failed({}); }),
      // A delegate is no IInspectable: Invoke follows IUnknown's three.
      Slot<rt::IToastEventHandler>("TypedEventHandler.Invoke", 3, [](auto& i) { i.Invoke(nullptr, nullptr); }),
      Slot<rt::IXmlDocument>("IXmlDocument.get_DocumentElement", 8, [](auto& i) { i.get_DocumentElement(nullptr); }),
      Slot<rt::IXmlDocument>("IXmlDocument.CreateElement", 9, [](auto& i) { i.CreateElement(nullptr, nullptr); }),
      Slot<rt::IXmlDocument>("IXmlDocument.CreateTextNode", 11, [](auto& i) { i.CreateTextNode(nullptr, nullptr); }),
      Slot<rt::IXmlDocument>("IXmlDocument.GetElementsByTagName", 16,
                             [](auto& i) { i.GetElementsByTagName(nullptr, nullptr); }),
      Slot<rt::IXmlNode>("IXmlNode.get_NodeValue", 6, [](auto& i) { i.get_NodeValue(nullptr); }),
      Slot<rt::IXmlNode>("IXmlNode.get_ChildNodes", 11, [](auto& i) { i.get_ChildNodes(nullptr); }),
      Slot<rt::IXmlNode>("IXmlNode.HasChildNodes", 17, [](auto& i) { i.HasChildNodes(nullptr); }),
      Slot<rt::IXmlNode>("IXmlNode.get_OwnerDocument", 18, [](auto& i) { i.get_OwnerDocument(nullptr); }),
      Slot<rt::IXmlNode>("IXmlNode.InsertBefore", 19, [](auto& i) { i.InsertBefore(nullptr, nullptr, nullptr); }),
      Slot<rt::IXmlNode>("IXmlNode.RemoveChild", 21, [](auto& i) { i.RemoveChild(nullptr, nullptr); }),
      Slot<rt::IXmlNode>("IXmlNode.AppendChild", 22, [](auto& i) { i.AppendChild(nullptr, nullptr); }),
      Slot<rt::IXmlNodeList>("IXmlNodeList.get_Length", 6, [](auto& i) { i.get_Length(nullptr); }),
      Slot<rt::IXmlNodeList>("IXmlNodeList.Item", 7, [](auto& i) { i.Item(0, nullptr); }),
      Slot<rt::IXmlNodeSelector>("IXmlNodeSelector.SelectSingleNode", 6,
                                 [](auto& i) { i.SelectSingleNode(nullptr, nullptr); }),
      Slot<rt::IXmlElement>("IXmlElement.get_TagName", 6, [](auto& i) { i.get_TagName(nullptr); }),
      Slot<rt::IXmlElement>("IXmlElement.GetAttribute", 7, [](auto& i) { i.GetAttribute(nullptr, nullptr); }),
      Slot<rt::IXmlElement>("IXmlElement.SetAttribute", 8, [](auto& i) { i.SetAttribute(nullptr, nullptr); }),
  };
  for (const SlotCase& c : cases) {
    SCOPED_TRACE(c.method);
    EXPECT_EQ(c.declared, c.slot);
  }
}

TEST(WinRtToasts, EveryIidIsTheSdks) {
  struct IidCase {
    const char* name;
    GUID declared;
    const wchar_t* sdk;
  };
  const IidCase cases[] = {
      {"IToastNotificationManagerStatics", rt::kIidToastNotificationManagerStatics,
       L"{50AC103F-D235-4598-BBEF-98FE4D1A3AD4}"},
      {"IToastNotifier", rt::kIidToastNotifier, L"{75927B93-03F3-41EC-91D3-6E5BAC1B38E7}"},
      {"IToastNotificationFactory", rt::kIidToastNotificationFactory, L"{04124B20-82C6-4229-B109-FD9ED4662B53}"},
      {"IToastNotification", rt::kIidToastNotification, L"{997E2675-059E-4E60-8B06-1760917C8B80}"},
      {"IXmlDocument", rt::kIidXmlDocument, L"{F7F3A506-1E87-42D6-BCFB-B8C809FA5494}"},
      {"IXmlNode", rt::kIidXmlNode, L"{1C741D59-2122-47D5-A856-83F3D4214875}"},
      {"IXmlNodeList", rt::kIidXmlNodeList, L"{8C60AD77-83A4-4EC1-9C54-7BA429E13DA6}"},
      {"IXmlNodeSelector", rt::kIidXmlNodeSelector, L"{63DBBA8B-D0DB-4FE1-B745-F9433AFDC25B}"},
      {"IXmlElement", rt::kIidXmlElement, L"{2DFB8A1F-6B10-4EF8-9F83-EFCCE8FAEC37}"},
      {"IXmlText", rt::kIidXmlText, L"{F931A4CB-308D-4760-A1D5-43B67450AC7E}"},
      {"TypedEventHandler<ToastNotification, IInspectable>", rt::kIidToastActivatedHandler,
       L"{AB54DE2D-97D9-5528-B6AD-105AFE156530}"},
      {"TypedEventHandler<ToastNotification, ToastDismissedEventArgs>", rt::kIidToastDismissedHandler,
       L"{61C2402F-0ED0-5A18-AB69-59F4AA99A368}"},
      {"TypedEventHandler<ToastNotification, ToastFailedEventArgs>", rt::kIidToastFailedHandler,
       L"{95E3E803-C969-5E3A-9753-EA2AD22A9A33}"},
      {"IAgileObject", rt::kIidAgileObject, L"{94EA2B94-E9CC-49E0-C0FF-EE64CA8F5B90}"},
  };
  for (const IidCase& c : cases) {
    SCOPED_TRACE(c.name);
    IID sdk{};
    ASSERT_EQ(::IIDFromString(c.sdk, &sdk), S_OK);
    EXPECT_TRUE(IsEqualGUID(c.declared, sdk));
  }
}

}  // namespace
}  // namespace korvex
