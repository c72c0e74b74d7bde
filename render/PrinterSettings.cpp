// The settings hook of the renderer (the reader itself is SettingsReader.cpp),
// and unit conversion.
#include "BaseRender.h"
#include "SettingsReader.h"
#include "Units.h"

namespace {

// The renderer's trace, one finished line at a time.
TraceLine RendererTrace(CBaseRender &render)
{
    return [&render](const std::string &line) { render.AddLog("%s", line.c_str()); };
}

} // namespace

std::string CBaseRender::GetMarkedOption(const char *keyword)
{
    PpdSettingsSource source(m_pPPD, RendererTrace(*this));
    return source.Choice(keyword);
}

void CBaseRender::GetPrinterParameters()
{
    AddLog("CCupsRender::GetPrinterParameters");
    PpdSettingsSource source(m_pPPD, RendererTrace(*this));
    ReadSettings(source, m_Reg, RendererTrace(*this));
}

float CBaseRender::ConvertUnits(int type, float value)
{
    return ::ConvertUnits(m_Reg.iUnit, type, value, m_iResolution);
}

int CBaseRender::MillimetresToDots(float mm)
{
    return LengthToDots(mm, m_Reg.iUnit, m_iResolution);
}
