#include "CPaintDC.h"

#include "CWnd.h"

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd), m_ps(), m_hDC(::BeginPaint(m_hWnd, &m_ps)) {}

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
