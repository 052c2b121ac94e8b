#!/usr/bin/env python3
"""Writes the Wilson test cases wilson_case{1,2}.lst and the reports expected for them,
wilson_case{1,2}.lp, from a separate implementation of the Wilson statistics in Python
(double precision throughout). Usage: make_wilson_cases.py 1|2, run in tests/data."""
import math
import sys
def cellB(cell):
    a,b,c,al,be,ga=[float(x) for x in cell]
    r=math.pi/180
    ca,cb,cg=math.cos(al*r),math.cos(be*r),math.cos(ga*r)
    sa,sb,sg=math.sin(al*r),math.sin(be*r),math.sin(ga*r)
    V=a*b*c*math.sqrt(1-ca*ca-cb*cb-cg*cg+2*ca*cb*cg)
    ast=b*c*sa/V; bst=a*c*sb/V; cst=a*b*sg/V
    cas=(cb*cg-ca)/(sb*sg); cbs=(ca*cg-cb)/(sa*sg); cgs=(ca*cb-cg)/(sa*sb)
    return (ast,bst,cst,cas,cbs,cgs),V
def ss_of(R,h,k,l):
    a,b,c,ca,cb,cg=R
    return h*h*a*a+k*k*b*b+l*l*c*c+2*(h*k*a*b*cg+h*l*a*c*cb+k*l*b*c*ca)
# P2 unique b: ops identity, (-h,k,-l) ; centric h0l; axial 0k0 count2
def cls(h,k,l):
    if k==0: return 'c'
    return 'a'
def count(h,k,l):
    return 2 if (h==0 and l==0) else 1
def F(v,w,d):
    s=f"{v:.{d}f}"
    if s.startswith("0.") and len(s)>w: s=s[1:]
    if s.startswith("-0.") and len(s)>w: s="-"+s[2:]
    return s.rjust(w) if len(s)<=w else '*'*w
def ES(v,w,d):
    s=f"{v:.{d}E}"
    m,e=s.split('E'); ei=int(e)
    s=f"{m}E{'+' if ei>=0 else '-'}{abs(ei):02d}"
    return s.rjust(w)
def E(v,w,d):
    if v==0: s="0."+"0"*d+"E+00"
    else:
        s=f"{abs(v):.{d-1}E}"; m,e=s.split('E'); ei=int(e)+1
        digits=m.replace('.','')
        s=("-" if v<0 else "")+"0."+digits+f"E{'+' if ei>=0 else '-'}{abs(ei):02d}"
    return s.rjust(w)
def I(n,w): return f"{n:{w}d}"
def erfc_base(x): return 1+x*(0.278393+x*(0.230389+x*(0.000972+0.078108*x)))
def report(refl, cell, ssmin, ssmax):
    Gs,V=cellB(cell)
    w=(ssmax+0.000001-ssmin)/19
    sh=[dict(n=[0,0],ss=0.0,p=[[0]*4,[0]*4],below=[[0]*10,[0]*10]) for _ in range(19)]
    used=[]
    for (h,k,l,i,s) in refl:
        if not i> -3*s: continue
        ss=ss_of(Gs,h,k,l)
        if not (ssmin<=ss<=ssmax): continue
        shell=min(max(int((ss-ssmin)/w+1),1),19)-1
        c=0 if cls(h,k,l)=='c' else 1
        z=i/count(h,k,l)
        S=sh[shell]; S['n'][c]+=1; S['ss']+=ss
        for p in range(4): S['p'][c][p]+=z**(p+1)
        used.append((h,k,l,i,s,ss,shell,c,z))
    th=[[3,15,105],[2,6,24]]
    for S in sh:
        n=sum(S['n'])
        if n==0: continue
        S['mss']=S['ss']/n; S['mi']=(S['p'][0][0]+S['p'][1][0])/n
        S['mom']=[[ (S['p'][c][k+1]/S['n'][c]/S['mi']**(k+2)/th[c][k] if S['n'][c]>0 and S['mi']>0 else 0) for k in range(3)] for c in range(2)]
    xs=[];ys=[]
    for S in sh:
        if sum(S['n'])>0 and S['mi']>0: xs.append(S['mss']/4); ys.append(math.log(S['mi']))
    A=B=C=0
    if len(xs)>=3:
        n=len(xs); mx=sum(xs)/n; my=sum(ys)/n
        vx=sum((x-mx)**2 for x in xs)/n; vy=sum((y-my)**2 for y in ys)/n; cv=sum((x-mx)*(y-my) for x,y in zip(xs,ys))/n
        sl=cv/vx; A=my-sl*mx; B=-sl/2; C=-cv/math.sqrt(vx*vy)
    aliens=[]
    for (h,k,l,i,s,ss,shell,c,z) in used:
        S=sh[shell]
        if not S['mi']>0: continue
        Z=z/S['mi']
        for q in range(10):
            if Z<=0.1*(q+1): S['below'][c][q]+=1
        if Z>0:
            sc=Z if c==1 else 4*math.log(erfc_base(math.sqrt(Z/2)))
            if sc>=10: aliens.append((ss,sc,i,s,h,k,l))
    L=[]
    L+=["Data is divided into resolution shells and a straight line "," A - 2*B*SS is fitted to log<I>, where",
        "   RES    = mean resolution (Angstrom) in shell","   SS     = mean of (sin(THETA)/LAMBDA)**2 in shell",
        "   <I>    = mean reflection intensity in shell","   BO     = (A - log<I>)/(2*SS)",
        "    #     = number of reflections in resolution shell",""]
    L.append("   WILSON LINE (using all data) : A="+F(A,8,3)+" B="+F(B,8,3)+" CORRELATION="+F(C,6,2))
    L.append("      #      RES      SS        <I>       log(<I>)       BO")
    for S in sh:
        n=sum(S['n'])
        if n==0: continue
        x=S['mss']/4
        lg=math.log(S['mi']) if S['mi']>0 else -999.999
        bo=(A-lg)/(2*x) if S['mi']>0 else -999.999
        L.append(I(n,8)+F(1/math.sqrt(S['mss']),10,3)+F(x,8,3)+ES(S['mi'],12,4)+F(lg,12,3)+F(bo,10,1))
    for c in (0,1):
        L.append("HIGHER ORDER MOMENTS OF WILSON DISTRIBUTION OF  CENTRIC DATA" if c==0 else "HIGHER ORDER MOMENTS OF WILSON DISTRIBUTION OF ACENTRIC DATA")
        L.append("    AS COMPARED WITH THEORETICAL VALUES. (EXPECTED: 1.00)    ")
        L.append("      #      RES        <I**2>/      <I**3>/      <I**4>/  ")
        L.append("                         3<I>**2     15<I>**3    105<I>**4 " if c==0 else "                         2<I>**2      6<I>**3     24<I>**4 ")
        tot=0; wsum=[0,0,0]
        for S in sh:
            if S['n'][c]==0: continue
            tot+=S['n'][c]
            L.append(I(S['n'][c],8)+F(1/math.sqrt(S['mss']),10,3)+"".join(F(S['mom'][c][k],13,3) for k in range(3)))
            for k in range(3): wsum[k]+=S['n'][c]*S['mom'][c][k]
        L.append(I(tot,8)+"   overall"+"".join(F(wsum[k]/tot if tot else 0,13,3) for k in range(3)))
    L+=["   ======= CUMULATIVE INTENSITY DISTRIBUTION ======="," DEFINITIONS:","   <I>    = mean reflection intensity",
        " Na(Z)exp = expected number of acentric reflections with I <= Z*<I>",
        " Na(Z)obs = observed number of acentric reflections with I <= Z*<I>",
        " Nc(Z)exp = expected number of  centric reflections with I <= Z*<I>",
        " Nc(Z)obs = observed number of  centric reflections with I <= Z*<I>"]
    def expd(c,n,Z):
        if c==1: return n*(1-math.exp(-Z))
        p=erfc_base(math.sqrt(Z/2)); return n*(1-1/p**4)
    for c in (0,1):
        L.append(" Nc(Z)obs/Nc(Z)exp versus resolution and Z (0.1-1.0)" if c==0 else " Na(Z)obs/Na(Z)exp versus resolution and Z (0.1-1.0)")
        L.append("      #      RES     0.1   0.2   0.3   0.4   0.5   0.6   0.7   0.8   0.9   1.0")
        tot=0; ob=[0]*10; ex=[0]*10
        for S in sh:
            n=S['n'][c]
            if n==0: continue
            tot+=n
            row=I(n,8)+F(1/math.sqrt(S['mss']),10,3)
            for q in range(10):
                e=expd(c,n,0.1*(q+1)); o=S['below'][c][q]
                row+=F(min(o/e,999.99) if e>0 else 0,6,2); ob[q]+=o; ex[q]+=e
            L.append(row)
        L.append(I(tot,8)+"   overall"+"".join(F(min(ob[q]/ex[q],999.99) if ex[q]>0 else 0,6,2) for q in range(10)))
    if aliens:
        aliens.sort(key=lambda a:-a[1])
        L.append(" List of "+I(len(aliens),6)+" reflections *NOT* obeying Wilson distribution (Z>"+F(10.0,5,1)+")")
        L.append("   h    k    l     RES      Z     Intensity    Sigma")
        for a in aliens: L.append(I(a[4],5)+I(a[5],5)+I(a[6],5)+F(1/math.sqrt(a[0]),8,2)+F(a[1],8,2)+E(a[2],12,4)+E(a[3],12,4)+' "alien"')
        aliens.sort(key=lambda a:-a[0])
        L.append(" List of "+I(len(aliens),6)+" reflections *NOT* obeying Wilson distribution (sorted by resolution)")
        L.append(" Ice rings could occur at (Angstrom):")
        L.append(" 3.897,3.669,3.441, 2.671,2.249,2.072, 1.948,1.918,1.883,1.721")
        L.append("   h    k    l     RES      Z     Intensity    Sigma")
        for a in aliens: L.append(I(a[4],5)+I(a[5],5)+I(a[6],5)+F(1/math.sqrt(a[0]),8,2)+F(a[1],8,2)+E(a[2],12,4)+E(a[3],12,4))
    return L,A,B,C,len(used),Gs
out = sys.argv[1]
# case 1: a handful of reflections in P2, every selection rule once
cell1=(10,12,14,90,100,90)
refl1=[(1,1,1,500,10),(2,1,1,300,10),(1,2,-1,800,10),(2,2,1,150,10),(1,3,2,420,10),(3,1,-2,90,10),(2,3,1,260,10),
(3,2,2,60,10),(1,1,-3,700,10),(4,1,1,30,10),(1,0,1,900,10),(2,0,-1,100,10),(3,0,1,350,10),(1,0,3,45,10),(4,0,-2,10,10),
(0,2,0,640,10),(2,1,-3,-30,10),(3,3,1,-29,10)]
# case 2: about 400 reflections in P2 with pseudo-random Wilson intensities and four aliens
cell2=(30,40,50,90,100,90)
st=[12345]
def u():
    st[0]=(st[0]*1103515245+12345)%2147483648
    return (st[0]+0.5)/2147483648
R2,_=cellB(cell2)
refl2=[]
for h in range(-4,5):
  for k in range(0,5):
    for l in range(-5,6):
      if (h,k,l)==(0,0,0): continue
      if k==0 and (h<0 or (h==0 and l<0)): continue
      ss=ss_of(R2,h,k,l)
      if ss>0.03: continue
      mean=1000*math.exp(-15*ss)*(2 if h==0 and l==0 else 1)
      if k==0:
        g=math.sqrt(-2*math.log(u()))*math.cos(2*math.pi*u()); i=mean*g*g
      else: i=-mean*math.log(u())
      i=round(i+10*math.sqrt(-2*math.log(u()))*math.cos(2*math.pi*u()),2)
      refl2.append((h,k,l,i,10.0))
# aliens: three acentric at different resolutions and one centric (h0l), scored by the erfc rule
for n,i in ((100,60000.0),(10,25000.0),(300,20000.0),(next(n for n,r in enumerate(refl2) if r[:2]==(2,0)),150000.0)):
    refl2[n]=refl2[n][:3]+(i,50.0)
cases={'1':(cell1,refl1),'2':(cell2,refl2)}
cell,refl=cases[out]
R,_=cellB(cell)
sss=[ss_of(R,*r[:3]) for r in refl]
L,A,B,C,n,_=report(refl,cell,min(sss),max(sss))
open(f'wilson_case{out}.lst','w').write("".join(f"{h:4d}{k:4d}{l:4d} {i:.2f} {s:.2f}\n" for h,k,l,i,s in refl))
open(f'wilson_case{out}.lp','w').write("\n".join(L)+"\n")
print(len(refl), n, A,B,C, repr(min(sss)), repr(max(sss)))
