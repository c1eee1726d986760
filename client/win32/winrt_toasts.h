#pragma once
// The few Windows Runtime interfaces of toast notifications that the client calls, declared here
// because MinGW-w64 ships no headers for Windows.UI.Notifications or Windows.Data.Xml.Dom. Only
// the methods up to the last one we call are declared; the order is that of the interfaces' ABI
// and must not change. The IIDs are those the Windows SDK gives.

#include "core/win32/windows_api.h"

#include <eventtoken.h>
#include <hstring.h>
#include <inspectable.h>

#include <cstdint>

namespace korvex::win32::winrt {

constexpr GUID kIidToastNotificationManagerStatics = {0x50ac103f, 0xd235, 0x4598, {0xbb, 0xef, 0x98, 0xfe, 0x4d, 0x1a, 0x3a, 0xd4}};
constexpr GUID kIidToastNotifier = {0x75927b93, 0x03f3, 0x41ec, {0x91, 0xd3, 0x6e, 0x5b, 0xac, 0x1b, 0x38, 0xe7}};
constexpr GUID kIidToastNotificationFactory = {0x04124b20, 0x82c6, 0x4229, {0xb1, 0x09, 0xfd, 0x9e, 0xd4, 0x66, 0x2b, 0x53}};
constexpr GUID kIidToastNotification = {0x997e2675, 0x059e, 0x4e60, {0x8b, 0x06, 0x17, 0x60, 0x91, 0x7c, 0x8b, 0x80}};
constexpr GUID kIidXmlDocument = {0xf7f3a506, 0x1e87, 0x42d6, {0xbc, 0xfb, 0xb8, 0xc8, 0x09, 0xfa, 0x54, 0x94}};
constexpr GUID kIidXmlNode = {0x1c741d59, 0x2122, 0x47d5, {0xa8, 0x56, 0x83, 0xf3, 0xd4, 0x21, 0x48, 0x75}};
constexpr GUID kIidXmlNodeList = {0x8c60ad77, 0x83a4, 0x4ec1, {0x9c, 0x54, 0x7b, 0xa4, 0x29, 0xe1, 0x3d, 0xa6}};
constexpr GUID kIidXmlNodeSelector = {0x63dbba8b, 0xd0db, 0x4fe1, {0xb7, 0x45, 0xf9, 0x43, 0x3a, 0xfd, 0xc2, 0x5b}};
constexpr GUID kIidXmlElement = {0x2dfb8a1f, 0x6b10, 0x4ef8, {0x9f, 0x83, 0xef, 0xcc, 0xe8, 0xfa, 0xec, 0x37}};
constexpr GUID kIidXmlText = {0xf931a4cb, 0x308d, 0x4760, {0xa1, 0xd5, 0x43, 0xb6, 0x74, 0x50, 0xac, 0x7e}};
// The parameterised delegates TypedEventHandler<ToastNotification, X> for the Activated
// (X = IInspectable), Dismissed (ToastDismissedEventArgs) and Failed (ToastFailedEventArgs) events.
constexpr GUID kIidToastActivatedHandler = {0xab54de2d, 0x97d9, 0x5528, {0xb6, 0xad, 0x10, 0x5a, 0xfe, 0x15, 0x65, 0x30}};
constexpr GUID kIidToastDismissedHandler = {0x61c2402f, 0x0ed0, 0x5a18, {0xab, 0x69, 0x59, 0xf4, 0xaa, 0x99, 0xa3, 0x68}};
constexpr GUID kIidToastFailedHandler = {0x95e3e803, 0xc969, 0x5e3a, {0x97, 0x53, 0xea, 0x2a, 0xd2, 0x2a, 0x9a, 0x33}};
// Marks our delegates as callable from any thread, so the runtime does not marshal their calls.
constexpr GUID kIidAgileObject = {0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};

constexpr wchar_t kToastNotificationManagerClass[] = L"Windows.UI.Notifications.ToastNotificationManager";
constexpr wchar_t kToastNotificationClass[] = L"Windows.UI.Notifications.ToastNotification";

enum ToastTemplateType : std::int32_t { kToastText01 = 4, kToastText02 = 5 };

struct IXmlDocument;
struct IXmlNodeList;

struct IXmlNode : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_NodeValue(IInspectable** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_NodeValue(IInspectable* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NodeType(std::int32_t* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NodeName(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ParentNode(IXmlNode** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ChildNodes(IXmlNodeList** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FirstChild(IXmlNode** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_LastChild(IXmlNode** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PreviousSibling(IXmlNode** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NextSibling(IXmlNode** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Attributes(IInspectable** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE HasChildNodes(boolean* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_OwnerDocument(IXmlDocument** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE InsertBefore(IXmlNode* newChild, IXmlNode* referenceChild, IXmlNode** inserted) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReplaceChild(IXmlNode* newChild, IXmlNode* referenceChild, IXmlNode** previous) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveChild(IXmlNode* childNode, IXmlNode** removed) = 0;
  virtual HRESULT STDMETHODCALLTYPE AppendChild(IXmlNode* newChild, IXmlNode** appended) = 0;
};

struct IXmlNodeList : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Length(UINT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Item(UINT32 index, IXmlNode** node) = 0;
};

struct IXmlNodeSelector : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE SelectSingleNode(HSTRING xpath, IXmlNode** node) = 0;
};

struct IXmlElement : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_TagName(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAttribute(HSTRING name, HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAttribute(HSTRING name, HSTRING value) = 0;
};

// Reached only through IXmlNode.
struct IXmlText : IInspectable {};

struct IXmlDocument : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Doctype(IInspectable** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Implementation(IInspectable** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DocumentElement(IXmlElement** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateElement(HSTRING tagName, IXmlElement** element) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateDocumentFragment(IInspectable** fragment) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateTextNode(HSTRING data, IXmlText** text) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateComment(HSTRING data, IInspectable** comment) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateProcessingInstruction(HSTRING target, HSTRING data, IInspectable** pi) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateAttribute(HSTRING name, IInspectable** attribute) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateEntityReference(HSTRING name, IInspectable** reference) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetElementsByTagName(HSTRING tagName, IXmlNodeList** elements) = 0;
};

struct IToastNotification;

// The three delegates share this shape: Invoke(sender, args), with args an IInspectable-derived
// event-argument object (or IInspectable itself for Activated).
struct IToastEventHandler : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(IToastNotification* sender, IInspectable* args) = 0;
};

struct IToastNotification : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Content(IXmlDocument** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ExpirationTime(IInspectable* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ExpirationTime(IInspectable** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_Dismissed(IToastEventHandler* handler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_Dismissed(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_Activated(IToastEventHandler* handler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_Activated(EventRegistrationToken token) = 0;
  virtual HRESULT STDMETHODCALLTYPE add_Failed(IToastEventHandler* handler, EventRegistrationToken* token) = 0;
  virtual HRESULT STDMETHODCALLTYPE remove_Failed(EventRegistrationToken token) = 0;
};

struct IToastNotificationFactory : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreateToastNotification(IXmlDocument* content, IToastNotification** toast) = 0;
};

struct IToastNotifier : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE Show(IToastNotification* toast) = 0;
  virtual HRESULT STDMETHODCALLTYPE Hide(IToastNotification* toast) = 0;
};

struct IToastNotificationManagerStatics : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreateToastNotifier(IToastNotifier** notifier) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateToastNotifierWithId(HSTRING applicationId, IToastNotifier** notifier) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTemplateContent(ToastTemplateType type, IXmlDocument** content) = 0;
};

}  // namespace korvex::win32::winrt
