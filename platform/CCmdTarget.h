// CCmdTarget and message maps: static tables that route window messages and commands to
// member functions, each class's table chained to its base class's.
#pragma once

#include <windows.h>

class CCmdTarget;
typedef void (CCmdTarget::*AFX_PMSG)();

// How a handler is called and what its result means.
enum AfxSig : UINT {
  AfxSig_end = 0,  // marks the end of a table
  AfxSig_vv,       // void Handler()
  AfxSig_hv,       // HANDLE-typed Handler(), the result returned to Windows
};

struct AFX_MSGMAP_ENTRY {
  UINT nMessage;  // window message
  UINT nCode;     // WM_COMMAND: notification code
  UINT nID;       // WM_COMMAND: command identifier
  AfxSig nSig;
  AFX_PMSG pfn;
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();  // null for the root
  const AFX_MSGMAP_ENTRY* lpEntries;
};

class CCmdTarget {
public:
  virtual ~CCmdTarget() = default;

protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;
};

#define DECLARE_MESSAGE_MAP()                        \
protected:                                          \
  static const AFX_MSGMAP* GetThisMessageMap();     \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                          \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }     \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                     \
    using ThisClass [[maybe_unused]] = theClass;                                        \
    using TheBaseClass = baseClass;                                                     \
    static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                        \
      {0, 0, 0, AfxSig_end, nullptr}};                                           \
    static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries};   \
    return &map;                                                                 \
  }

// A command from a menu, an accelerator, a button click or the dialog's keyboard handling
// (notification code 0). A virtual handler is called through its virtual slot.
#define ON_COMMAND(id, memberFxn) \
  {WM_COMMAND, 0, (id), AfxSig_vv, static_cast<AFX_PMSG>(static_cast<void (ThisClass::*)()>(&ThisClass::memberFxn))},

#define ON_WM_PAINT() \
  {WM_PAINT, 0, 0, AfxSig_vv, static_cast<AFX_PMSG>(static_cast<void (ThisClass::*)()>(&ThisClass::OnPaint))},

#define ON_WM_QUERYDRAGICON() \
  {WM_QUERYDRAGICON, 0, 0, AfxSig_hv, reinterpret_cast<AFX_PMSG>(static_cast<HCURSOR (ThisClass::*)()>(&ThisClass::OnQueryDragIcon))},
