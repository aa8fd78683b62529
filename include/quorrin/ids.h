// Every id of the host contract. Declared here once and defined in src/support/ids.cpp,
// so the module, the reference host and the tests share one definition of each.
#pragma once

#include "quorrin/com_types.h"

extern const GUID CLSID_DownloadLibPlugin;  // {1F9E90A0-D9C5-4117-A29C-590469D5A869} the plug-in's one class
extern const GUID IID_IDownloadLibPlugin;  // {D2D3CA33-E582-49E9-83D8-A7CBAC3BB187}
extern const GUID LIBID_quorrin;  // {1F19951C-C639-4C50-A3E9-77C4EFB3439F} type library id; the module ships no type library
extern const GUID IID_IQuorrin;  // {BB4518B4-CEA0-4570-B46B-39F8E76779B6} also the id under which the statistics object is registered
extern const GUID IID_IAsynTimerEvents;  // {066765B7-E6C5-4A3C-BB69-E75AA440946F}
extern const GUID IID_IAsynMessageEvents;  // {E0913DE3-B289-4A4D-A244-8D90D67A4B68}
extern const GUID IID_IStringSetter;  // {83A323B1-3B99-496F-91BE-5786FC213443}
extern const GUID IID_IHostData;  // {93BAD8F6-48DB-4FC8-8508-6B99CB17A997}
extern const GUID CLSID_HostData;  // {2CDAD45E-494F-41D1-A1BD-AE5A9797E629} class of a new empty host data object
extern const GUID SID_AsynEventService;  // {ECB1468E-DF17-4BAA-9105-84FC292F4B61} service id, also its interface id
extern const GUID SID_StatReportService;  // {772D1C1A-319C-4433-9DCE-2499CCBC503A} service id, also its interface id
extern const GUID SID_TransferStatService;  // {91453857-E5CB-4C2F-B0C5-74F961850055} service id, also its interface id
extern const GUID IID_ITransferTotals;  // {44396E3B-BD1E-4CEC-B2DD-7F926D82A557} asked of the transfer statistics service
extern const GUID SID_PeerNetworkService;  // {040E0FB3-FC0C-4D26-B1E1-D3136E1EAD23} service id; the interface is asked for next
extern const GUID IID_IPeerNetworkService;  // {6BD1D3FE-1E39-4A70-86AA-5C9F2319433D}
extern const GUID SID_PingService;  // {F49C916B-8116-4797-AC5F-702A4B9D71F9} service id; the interface is asked for next
extern const GUID IID_IPingService;  // {60A710BB-35C9-461D-97CB-B2AE5D230685}
extern const GUID SID_StatDataService;  // {2C0AB158-B601-46DD-B00A-CE3A3040EB67} service id, also its interface id
extern const GUID SID_SettingsService;  // {30A29138-545F-4CFA-BC75-94352DA5A566} service id, also its interface id
extern const GUID SID_SpeedLimitService;  // {00C8A828-7FBF-4AFB-84A6-FD0BD0336624} service id, also its interface id
