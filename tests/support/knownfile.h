#pragma once

#include <QByteArray>
#include <QStringList>

namespace veltra::test {

// A settings file as the tool saves it, line by line, and the very bytes of it.
inline const QStringList kKnownLines = {
    "VELTRA設定ファイル",
    "設定項目,周波数,動作表示復帰,絶縁接点復帰,漏電接点復帰,試験トリップ,自己診断,局番号",
    "共通設定,60Hz,手動,自動,手動,有り,無し,128",
    "回路NO.,電気方式,絶縁感度,絶縁時限,漏電感度,漏電時限",
    "回路１,1φ3W,30(mA),10(秒),0.2(A),0.3(秒)",
    "回路２,ﾛｯｸ,100(mA),40(秒),1.0(A),2.0(秒)",
    "回路３,1φ2W,35(mA),5(秒),ﾛｯｸ,0.4(秒)",
    "回路４,3φ3Du,ﾛｯｸ,20(秒),0.5(A),1.3(秒)",
    "回路５,3φ3Y,95(mA),30(秒),0.9(A),1.8(秒)",
    "回路６,3φ3Dw,50(mA),10(秒),0.3(A),0.5(秒)",
    "回路７,1φ3W,70(mA),5(秒),0.6(A),1.0(秒)",
    "回路８,ﾛｯｸ,ﾛｯｸ,5(秒),ﾛｯｸ,0.3(秒)",
};

// kKnownLines as code page 932 bytes, every line ended by CR LF.
inline const QByteArray kKnownFile = QByteArrayLiteral(
    "VELTRA\x90\xDD\x92\xE8\x83t\x83@\x83"
    "C\x83\x8B\x0D\x0A"
    "\x90\xDD\x92\xE8\x8D\x80\x96\xDA,\x8E\xFC\x94g\x90\x94,\x93\xAE\x8D\xEC\x95\x5C\x8E\xA6\x95"
    "\x9C\x8B"
    "A,\x90\xE2\x89\x8F\x90\xDA\x93_\x95\x9C\x8B"
    "A,\x98R\x93"
    "d\x90\xDA\x93_\x95\x9C\x8B"
    "A,\x8E\x8E\x8C\xB1\x83g\x83\x8A\x83"
    "b\x83v,\x8E\xA9\x8C\xC8\x90"
    "f\x92"
    "f,\x8B\xC7\x94\xD4\x8D\x86\x0D\x0A"
    "\x8B\xA4\x92\xCA\x90\xDD\x92\xE8,60Hz,\x8E\xE8\x93\xAE,\x8E\xA9\x93\xAE,\x8E\xE8\x93\xAE,"
    "\x97L\x82\xE8,\x96\xB3\x82\xB5,128\x0D\x0A"
    "\x89\xF1\x98HNO.,\x93"
    "d\x8B"
    "C\x95\xFB\x8E\xAE,\x90\xE2\x89\x8F\x8A\xB4\x93x,\x90\xE2\x89\x8F\x8E\x9E\x8C\xC0,\x98R\x93"
    "d\x8A\xB4\x93x,\x98R\x93"
    "d\x8E\x9E\x8C\xC0\x0D\x0A"
    "\x89\xF1\x98H\x82P,1\x83\xD3"
    "3W,30(mA),10(\x95"
    "b),0.2(A),0.3(\x95"
    "b)\x0D\x0A"
    "\x89\xF1\x98H\x82Q,\xDB\xAF\xB8,100(mA),40(\x95"
    "b),1.0(A),2.0(\x95"
    "b)\x0D\x0A"
    "\x89\xF1\x98H\x82R,1\x83\xD3"
    "2W,35(mA),5(\x95"
    "b),\xDB\xAF\xB8,0.4(\x95"
    "b)\x0D\x0A"
    "\x89\xF1\x98H\x82S,3\x83\xD3"
    "3Du,\xDB\xAF\xB8,20(\x95"
    "b),0.5(A),1.3(\x95"
    "b)\x0D\x0A"
    "\x89\xF1\x98H\x82T,3\x83\xD3"
    "3Y,95(mA),30(\x95"
    "b),0.9(A),1.8(\x95"
    "b)\x0D\x0A"
    "\x89\xF1\x98H\x82U,3\x83\xD3"
    "3Dw,50(mA),10(\x95"
    "b),0.3(A),0.5(\x95"
    "b)\x0D\x0A"
    "\x89\xF1\x98H\x82V,1\x83\xD3"
    "3W,70(mA),5(\x95"
    "b),0.6(A),1.0(\x95"
    "b)\x0D\x0A"
    "\x89\xF1\x98H\x82W,\xDB\xAF\xB8,\xDB\xAF\xB8,5(\x95"
    "b),\xDB\xAF\xB8,0.3(\x95"
    "b)\x0D\x0A");

} // namespace veltra::test
