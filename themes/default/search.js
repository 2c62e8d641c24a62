(function(){
// The search box of the top page: the index (vellumcast-search.js) defines
// window.vellumcastSearch; without it, or without script, the box stays hidden.
var data=window.vellumcastSearch,box=document.getElementById('vc-search');
if(!box||!Array.isArray(data))return;
var input=document.getElementById('vc-search-q'),status=document.getElementById('vc-search-status'),list=document.getElementById('vc-search-results');
var most=200;
var hay=data.map(function(p){return [p.n,p.ti,p.c,(p.k||[]).join(' '),p.a,p.d].join('\n').toLowerCase()});
function show(p){
var li=document.createElement('li'),a=document.createElement('a');
a.href=p.p;
if(p.t){var img=document.createElement('img');img.src=p.t;img.alt='';img.loading='lazy';img.decoding='async';a.appendChild(img)}
var name=document.createElement('span');name.className='vc-caption';name.textContent=p.l||p.n;a.appendChild(name);
li.appendChild(a);list.appendChild(li)}
function run(){
var words=input.value.toLowerCase().split(/\s+/).filter(function(w){return w.length>0});
list.textContent='';
if(words.length===0){status.textContent='';return}
var found=0;
for(var i=0;i<data.length;i++){
var h=hay[i];
if(!words.every(function(w){return h.indexOf(w)>=0}))continue;
found++;
if(found<=most)show(data[i])}
status.textContent=found===0?'No photos found.':found===1?'1 photo found.':found+' photos found'+(found>most?', the first '+most+' shown.':'.')}
input.addEventListener('input',run);
box.hidden=false;
})();
