// bench_dispatch: a late-bound property get through the module's IDispatch
// (GetIDsOfNames, then Invoke), against ITypeInfo::Invoke called directly and
// against a call through the function table, all in this process.
//
// Run: WINEPREFIX=<prefix with the module registered> wine bench_dispatch.exe [iterations]
#include <windows.h>
#include <ole2.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchClock.h"
#include "KalvoraAdminUser_h.h"

using Microsoft::WRL::ComPtr;

namespace {

// Median over rounds of the time per iteration, in nanoseconds.
template <class F>
double Measure(int iterations, int rounds, F&& body)
{
    std::vector<double> perOp;
    for (int r = 0; r < rounds; ++r) {
        double start = Now();
        for (int i = 0; i < iterations; ++i)
            body();
        perOp.push_back((Now() - start) * 1e9 / iterations);
    }
    std::sort(perOp.begin(), perOp.end());
    return perOp[perOp.size() / 2];
}

// Median over rounds of time(a) / time(b), the two measured back to back in
// each round, so that both see the same machine speed.
template <class A, class B>
double MeasureRatio(int iterations, int rounds, A&& a, B&& b)
{
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
        double ta = Measure(iterations, 1, a);
        double tb = Measure(iterations, 1, b);
        ratios.push_back(ta / tb);
    }
    std::sort(ratios.begin(), ratios.end());
    return ratios[ratios.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const int iterations = argc > 1 ? std::max(1000, atoi(argv[1])) : 200000;
    const int rounds = 9;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    int rc = 0;
    {
        ComPtr<IKalvoraUser> user;
        HRESULT hr = CoCreateInstance(CLSID_KalvoraUser, nullptr, CLSCTX_INPROC_SERVER, IID_IKalvoraUser,
                                      reinterpret_cast<void**>(user.GetAddressOf()));
        if (FAILED(hr)) {
            fprintf(stderr, "CoCreateInstance failed: 0x%08lX (is the module registered?)\n", hr);
            return 2;
        }
        BSTR name = SysAllocString(L"jdoe");
        user->put_Name(name);
        SysFreeString(name);
        ComPtr<IDispatch> disp;
        user.As(&disp);
        ComPtr<ITypeInfo> info;
        if (FAILED(disp->GetTypeInfo(0, 0, info.GetAddressOf())))
            return 3;

        LPOLESTR names[] = {const_cast<LPOLESTR>(L"Name")};
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        volatile long sink = 0;
        bool ok = true;

        auto vtableCall = [&] {
            BSTR v = nullptr;
            ok &= SUCCEEDED(user->get_Name(&v));
            sink += SysStringLen(v);
            SysFreeString(v);
        };
        auto typeInfoCall = [&] {
            VARIANT r;
            VariantInit(&r);
            ok &= SUCCEEDED(info->Invoke(user.Get(), 8, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr));
            sink += r.vt;
            VariantClear(&r);
        };
        auto invokeCall = [&] {
            VARIANT r;
            VariantInit(&r);
            ok &= SUCCEEDED(disp->Invoke(8, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr));
            sink += r.vt;
            VariantClear(&r);
        };
        auto idsCall = [&] {
            DISPID id = 0;
            ok &= SUCCEEDED(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
            sink += id;
        };
        // Names as scripts write them, in other letter cases, and the lookup
        // of the type information that they took before the cache matched them.
        LPOLESTR lower[] = {const_cast<LPOLESTR>(L"name")};
        LPOLESTR upper[] = {const_cast<LPOLESTR>(L"SECURITYLEVEL")};
        auto idsLowerCall = [&] {
            DISPID id = 0;
            ok &= SUCCEEDED(disp->GetIDsOfNames(IID_NULL, lower, 1, 0, &id)) && id == 8;
            sink += id;
        };
        auto idsUpperCall = [&] {
            DISPID id = 0;
            ok &= SUCCEEDED(disp->GetIDsOfNames(IID_NULL, upper, 1, 0, &id));
            sink += id;
        };
        auto typeInfoIdsCall = [&] {
            MEMBERID id = 0;
            ok &= SUCCEEDED(info->GetIDsOfNames(lower, 1, &id));
            sink += id;
        };
        auto lateBoundCall = [&] {
            DISPID id = 0;
            ok &= SUCCEEDED(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
            VARIANT r;
            VariantInit(&r);
            ok &= SUCCEEDED(disp->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr));
            sink += r.vt;
            VariantClear(&r);
        };

        double vtable = Measure(iterations, rounds, vtableCall);
        double typeInfoInvoke = Measure(iterations, rounds, typeInfoCall);
        double invokeOnly = Measure(iterations, rounds, invokeCall);
        double idsOnly = Measure(iterations, rounds, idsCall);
        double idsLower = Measure(iterations, rounds, idsLowerCall);
        double idsUpper = Measure(iterations, rounds, idsUpperCall);
        double typeInfoIds = Measure(iterations / 10, rounds, typeInfoIdsCall);
        double lateBound = Measure(iterations, rounds, lateBoundCall);
        double lateVsTypeInfo = MeasureRatio(iterations, rounds, lateBoundCall, typeInfoCall);
        double hitVsInvoke = MeasureRatio(iterations, rounds, idsCall, invokeCall);
        double lowerVsHit = MeasureRatio(iterations, rounds, idsLowerCall, idsCall);
        double lowerVsInvoke = MeasureRatio(iterations, rounds, idsLowerCall, invokeCall);
        if (!ok) {
            fprintf(stderr, "a measured call failed\n");
            rc = 4;
        }

        printf("Late-bound property get of IKalvoraUser::Name, %d iterations, median of %d rounds\n",
               iterations, rounds);
        printf("  %-44s %10.1f ns\n", "function-table call (get_Name)", vtable);
        printf("  %-44s %10.1f ns\n", "ITypeInfo::Invoke called directly", typeInfoInvoke);
        printf("  %-44s %10.1f ns\n", "our Invoke", invokeOnly);
        printf("  %-44s %10.1f ns\n", "our GetIDsOfNames, cache hit (\"Name\")", idsOnly);
        printf("  %-44s %10.1f ns\n", "our GetIDsOfNames, other case (\"name\")", idsLower);
        printf("  %-44s %10.1f ns\n", "our GetIDsOfNames, other case (\"SECURITYLEVEL\")", idsUpper);
        printf("  %-44s %10.1f ns\n", "ITypeInfo::GetIDsOfNames (\"name\")", typeInfoIds);
        printf("  %-44s %10.1f ns\n", "our GetIDsOfNames + Invoke", lateBound);
        printf("Ratios (* = median of per-round ratios, both sides measured back to back)\n");
        printf("  GetIDsOfNames+Invoke / ITypeInfo::Invoke * %8.3f\n", lateVsTypeInfo);
        printf("  our Invoke / ITypeInfo::Invoke             %8.3f\n", invokeOnly / typeInfoInvoke);
        printf("  GetIDsOfNames+Invoke / function table      %8.1f\n", lateBound / vtable);
        printf("  cache hit / our Invoke *                   %8.2f %%  (goal < 5 %%)\n", 100.0 * hitVsInvoke);
        printf("  other case / exact case *                  %8.3f    (goal <= 2)\n", lowerVsHit);
        printf("  other case / our Invoke *                  %8.2f %%  (goal < 10 %%)\n", 100.0 * lowerVsInvoke);
        printf("  other case / type-info lookup              %8.3f\n", idsLower / typeInfoIds);
    }
    CoUninitialize();
    return rc;
}
